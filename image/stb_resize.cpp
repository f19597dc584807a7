// stb_image_resize's code (Debian's libstb-dev ships it as a header, found on
// a system include path, so its own warnings stay out of the build's). It
// lives in a file of its own so that the fuzzing build can leave it
// uninstrumented, as it leaves the other libraries the readers call.
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb_image_resize.h>
