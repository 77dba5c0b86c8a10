#pragma once
// Soft 3:2 pulldown over coded MPEG-2 video. DVD-Video knows 25 and 29.97
// pictures per second only, and Debian's MPEG-2 encoder writes no
// repeat_first_field, so film (24000/1001) is coded progressive as it is and
// its headers are rewritten afterwards: the sequence says 29.97 and
// interlaced, and each picture, in display order, shows 3, 2, 3, 2 fields with
// the top field first on pictures 0 and 3 of each four, so fields alternate
// top, bottom across pictures. The packet's times move onto that field grid.
// Every picture is still coded (and decoded) once.
#include <cstddef>
#include <cstdint>

#include "binding/Entries.h"

// What the rewrite carries from packet to packet of one stream.
struct TPulldownState {
    bool film = false;             // the last sequence header was 24000/1001, now rewritten
    int64_t group_start = 0;       // pictures, display order, of the groups of pictures before this one
    int64_t group_length = 0;      // one past the highest temporal_reference seen in this group
    int64_t origin = AV_NOPTS_VALUE;  // the stream's time base: when display picture 0 starts
};

// Rewrites the headers in one packet's bytes, in place: frame_rate_code 1
// becomes 4, progressive_sequence 0, the group's time code counts 29.97
// frames, and the frame picture's top_field_first and repeat_first_field
// follow the pattern. Reads nothing past size; a header cut short, a stream
// of another rate and bytes without start codes are left as they are. The
// display index (from the stream's first picture) of the picture whose flags
// it set, or -1 when it set none.
int64_t RewritePulldownHeaders(uint8_t* data, size_t size, TPulldownState& state);

// Fields of 1001/60000 s from the start of display picture 0 to the start of
// picture n (negative n counts back, for decoding times before the first).
int64_t PulldownFieldsBefore(int64_t n);

// The headers as above, then pts and dts on the field grid and the duration
// of the picture's 3 or 2 fields, in time_base. A packet the rewrite did not
// touch keeps its times. Throws when its bytes cannot be made writable.
void ApplyPulldown(AVPacket* pkt, AVRational time_base, TPulldownState& state);
