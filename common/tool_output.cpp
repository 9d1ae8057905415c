#include "common/tool_output.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

void ToolOutput::add(std::string_view bytes) {
  decoded_.clear();
  decoder_.feed(bytes, decoded_);
  takeText(decoded_);
}

void ToolOutput::finish() {
  decoded_.clear();
  decoder_.finish(decoded_);
  takeText(decoded_);
  // As a text reader returns lines: a final line without a line end counts,
  // an empty remainder after the last line end does not.
  if (afterCr_) {
    afterCr_ = false;
    endLine("\r");
  } else if (lineBytes_ > 0) {
    endLine("");
  }
  decoded_.clear();
  decoded_.shrink_to_fit();
}

void ToolOutput::scan(std::string_view text) {
  if (watched_.empty() || seen_) return;
  const size_t overlap = watched_.size() - 1;
  if (!carry_.empty()) {
    const std::string joint = carry_ + std::string(text.substr(0, overlap));
    if (joint.find(watched_) != std::string::npos) {
      seen_ = true;
      return;
    }
  }
  if (text.find(watched_) != std::string_view::npos) {
    seen_ = true;
    return;
  }
  if (text.size() >= overlap) {
    carry_.assign(text.substr(text.size() - overlap));
  } else {
    carry_ += text;
    if (carry_.size() > overlap) carry_.erase(0, carry_.size() - overlap);
  }
}

namespace {

// Where `c` next occurs in `text` from `from`, or text.size().
size_t nextOf(std::string_view text, size_t from, char c) {
  const void* found = std::memchr(text.data() + from, c, text.size() - from);
  return found == nullptr ? text.size() : static_cast<size_t>(static_cast<const char*>(found) - text.data());
}

}  // namespace

void ToolOutput::takeText(std::string_view text) {
  scan(text);
  // The next LF and CR, each found once: a piece with few line ends is
  // crossed at memchr's pace.
  size_t lf = nextOf(text, 0, '\n');
  size_t cr = nextOf(text, 0, '\r');
  size_t at = 0;
  while (at < text.size()) {
    if (afterCr_) {
      afterCr_ = false;
      const bool crLf = text[at] == '\n';
      endLine(crLf ? "\r\n" : "\r");
      if (crLf) ++at;
      continue;
    }
    if (lf < at) lf = nextOf(text, at, '\n');
    if (cr < at) cr = nextOf(text, at, '\r');
    const size_t end = std::min(lf, cr);
    appendToLine(text.substr(at, end - at));
    if (end == text.size()) break;
    if (text[end] == '\n') {
      endLine("\n");
    } else {
      afterCr_ = true;  // decided by the next character, maybe in the next piece
    }
    at = end + 1;
  }
}

void ToolOutput::appendToLine(std::string_view piece) {
  lineBytes_ += piece.size();
  // A line longer than its part of the bound is neither kept nor judged, so
  // only that much of it is ever held.
  constexpr size_t bound = kMaxLoggedBytes / 2;
  if (line_.size() >= bound) return;
  line_.append(piece.substr(0, std::min(bound - line_.size(), piece.size())));
}

void ToolOutput::leaveOut(uint64_t lines, uint64_t bytes) {
  moreLines_ += lines;
  moreBytes_ += bytes;
}

void ToolOutput::endLine(std::string_view lineEnd) {
  const uint64_t bytes = lineBytes_ + lineEnd.size();
  const bool overlong = lineBytes_ > line_.size() || bytes > kMaxLoggedBytes / 2;
  const bool wanted = keep_ == nullptr || (!overlong && keep_(line_));
  if (wanted) {
    if (!full_ && !overlong && keptLines_ < kMaxLoggedFirstLines &&
        kept_.size() + bytes <= kMaxLoggedBytes / 2) {
      kept_.append(line_).append(lineEnd);
      ++keptLines_;
    } else {
      full_ = true;
      keepLast(lineEnd, bytes);
    }
  }
  line_.clear();
  lineBytes_ = 0;
}

void ToolOutput::keepLast(std::string_view lineEnd, uint64_t bytes) {
  if (last_.empty()) last_.resize(kMaxLoggedLastLines);
  if (bytes > kMaxLoggedBytes / 2 || lineBytes_ > line_.size()) {
    // The last lines follow on one another: what came before this one is
    // no longer the end of the output.
    leaveOut(lastCount_ + 1, lastBytes_ + bytes);
    lastBegin_ = lastCount_ = lastBytes_ = 0;
    return;
  }
  // Once per line of a flood: no division, no allocation once the ring's
  // strings have grown.
  const size_t ring = last_.size();
  while (lastCount_ > 0 && (lastCount_ == ring || lastBytes_ + bytes > kMaxLoggedBytes / 2)) {
    const size_t oldest = last_[lastBegin_].size();
    leaveOut(1, oldest);
    lastBytes_ -= oldest;
    if (++lastBegin_ == ring) lastBegin_ = 0;
    --lastCount_;
  }
  const size_t end = lastBegin_ + lastCount_;
  std::string& slot = last_[end < ring ? end : end - ring];
  slot.assign(line_);
  slot.append(lineEnd);
  lastBytes_ += slot.size();
  ++lastCount_;
}

std::string ToolOutput::lastKeptText() const {
  std::string text;
  text.reserve(lastBytes_);
  for (size_t i = 0; i < lastCount_; ++i) text += last_[(lastBegin_ + i) % last_.size()];
  return text;
}

std::string ToolOutput::notKeptLine() const {
  if (moreLines_ == 0) return {};
  char size[32];
  if (moreBytes_ < 1024) {
    std::snprintf(size, sizeof size, "%llu bytes", static_cast<unsigned long long>(moreBytes_));
  } else {
    const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(moreBytes_) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
      value /= 1024;
      ++unit;
    }
    std::snprintf(size, sizeof size, "%.1f %s", value, units[unit]);
  }
  return "... " + std::to_string(moreLines_) + " more lines (" + size + ") of output not logged";
}
