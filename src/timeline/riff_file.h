// Whether an AVI file is whole, judged by its RIFF chunks alone.
//
// An AVI file is one or more top-level RIFF chunks ("AVI ", then "AVIX" for files past the first gigabyte), each
// announcing its length. A file cut short (a copy that stopped, a recording that crashed) has chunks that run past
// its end, and has lost the index that sits at the end of the first one: seeks in it can decode a frame from the
// wrong reference frames.
#ifndef LABELER_TIMELINE_RIFF_FILE_H_
#define LABELER_TIMELINE_RIFF_FILE_H_

#include <string>

namespace labeler {

// False when the RIFF chunks of the file at `path` run past its end, or the first announces no content (the
// placeholder length of a recording that never finished). A file that does not start as a RIFF file can't be
// judged this way and counts as whole, as do bytes after the last RIFF chunk.
bool RiffChunksFit(const std::string& path);

}  // namespace labeler

#endif  // LABELER_TIMELINE_RIFF_FILE_H_
