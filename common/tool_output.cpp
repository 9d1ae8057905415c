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
  // Past the bound nothing of a line is looked at again, unless a filter
  // still has to judge it.
  if (full_ && keep_ == nullptr) return;
  const size_t room = kMaxLoggedBytes - std::min(kMaxLoggedBytes, line_.size());
  line_.append(piece.substr(0, std::min(room, piece.size())));
}

void ToolOutput::endLine(std::string_view lineEnd) {
  const uint64_t bytes = lineBytes_ + lineEnd.size();
  // A line longer than the whole bound is never kept, and only its start
  // was held: it is not judged either.
  const bool overlong = lineBytes_ > line_.size();
  bool wanted = true;
  if (keep_ != nullptr) {
    wanted = !overlong && keep_(line_);
    if (wanted) lastFiltered_ = line_;
  }
  if (wanted) {
    if (!full_ && !overlong && keptLines_ < kMaxLoggedLines && kept_.size() + bytes <= kMaxLoggedBytes) {
      kept_.append(line_).append(lineEnd);
      ++keptLines_;
    } else {
      full_ = true;
      ++moreLines_;
      moreBytes_ += bytes;
    }
  }
  line_.clear();
  lineBytes_ = 0;
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
