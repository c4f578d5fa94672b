// The build tag: a text that tells one build of the program from another of the
// same version (test releases). Linked into the executable as an object of its
// own, so it is kept whether or not anything reads it.
#ifndef CORVALEN_BUILD_TAG
#error "CORVALEN_BUILD_TAG must be defined by the build"
#endif

extern const char kCorvalenBuildTag[];
[[gnu::used]] const char kCorvalenBuildTag[] = "CorvalenBuildTag:" CORVALEN_BUILD_TAG;
