// A check of the Vorbis comment header before stb_vorbis parses it. stb_vorbis
// trusts the counts and lengths in that header: a damaged one makes it crash
// or write outside its memory. This reads the header's packet from the Ogg
// pages and checks every count and length against the bytes really there.
#pragma once

#include <cstddef>

#include "io/byte_source.h"

namespace audio {

// Largest comment header accepted (pictures are sometimes embedded in it).
constexpr size_t kMaxVorbisCommentBytes = 8u << 20;

// Reads the source from its start. True when the comment header (the
// stream's second packet) is well formed; *comment_bytes receives its size.
bool check_vorbis_comment_header(ByteSource& source, size_t* comment_bytes);

}  // namespace audio
