#pragma once

namespace sormio {

// Lets assistive technology read the hand-drawn controls: each label by its text, a tile also by
// whether it is the key to press or the wrong key, and the bar by the key to press and the width
// left. Qt asks for these only while a screen reader or another assistive tool listens.
void installAccessibleFactory();

}  // namespace sormio
