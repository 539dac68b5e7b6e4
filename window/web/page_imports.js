// The functions the page's script gives the module when it loads it (sormio.js, "page"),
// declared for the link: they stay imports of the module, which the page fills in.
mergeInto(LibraryManager.library, {
    sormio_page_draw: function () {},
    sormio_page_wake_at: function () {},
    sormio_page_open_audio: function () {},
    sormio_page_play_tones: function () {},
    sormio_page_drop_tones: function () {},
    sormio_page_ring_bell: function () {},
    sormio_page_quit: function () {},
});
