/* The Ogg Vorbis decoder's implementation, compiled once. We feed it bytes
   through its pushdata interface only, so its stdio and pull APIs stay out. */
#define STB_VORBIS_NO_STDIO
#define STB_VORBIS_NO_PULLDATA_API
#include <stb_vorbis.h>
