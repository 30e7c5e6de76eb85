#include "tools/vqcall/progress_line.h"

namespace vqcall {

void ProgressLine::Show(int seconds) {
  if (!enabled_) return;
  // Carriage return and erase-to-end-of-line redraw the line in place.
  std::fprintf(stream_, "\r\033[Kwaiting for the server... %d s", seconds);
  std::fflush(stream_);
  shown_ = true;
}

void ProgressLine::Clear() {
  if (!shown_) return;
  std::fputs("\r\033[K", stream_);
  std::fflush(stream_);
  shown_ = false;
}

}  // namespace vqcall
