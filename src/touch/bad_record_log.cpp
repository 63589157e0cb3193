#include "touch/bad_record_log.h"

#include "touch/frame_decoder.h"

namespace quorin {

BadRecordLog::BadRecordLog(std::ostream& out, Now now) : out(out), now(now) {}

// A report held back counts as showing the buffer too: the retries behind
// it are the same report, not more of them left out.
void BadRecordLog::rejected(const char* frameText, std::size_t length, std::size_t start)
{
    ++seen;
    if (start + kFrameLength <= shown)
        return;
    shown = length;
    if (!limit.allow(now()))
        return;
    if (const unsigned long leftOut = limit.takeLeftOut(); leftOut > 0)
        out << leftOut << " bad-record reports left out" << std::endl;
    writeBadFrameReport(out, frameText, length, start);
}

}  // namespace quorin
