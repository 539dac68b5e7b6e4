"""The end-to-end harness: the game played from the outside, as a person plays it, on every
platform it runs on. play_test.py beside this package is its command line."""
