// The PNG reader and writer of the stb headers (Debian's libstb-dev), compiled once for every
// build, the Windows one included. Third-party code: not held to our warning flags.
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

#define STBI_WRITE_NO_STDIO
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>
