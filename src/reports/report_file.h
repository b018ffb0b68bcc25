#pragma once
// The report page a command writes for a person besides its output. It goes into a new file beside
// its name, which takes the name only when the page is whole, so that the name holds the whole page
// or what it held before; and it never replaces a file the command reads.

#include <span>
#include <string>
#include <string_view>

#include "platform/file_handles.h"

namespace orvex {

/// A report file under way; one not finished goes away with the object.
class ReportFile {
 public:
  ReportFile() = default;
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  /// Readies the report file `name` before the command does its work, so that a name it cannot
  /// take fails at once: refuses a name of one of the files `inputs` (full paths) and creates the
  /// new file beside it. False after `*failure` is filled with what went wrong, for the program's
  /// message.
  bool Create(const std::u16string& name, std::span<const std::u16string> inputs,
              std::u16string* failure);
  /// Writes `page` in UTF-8 and gives the file the report's name, replacing what bore it. False
  /// after `*failure` is filled as by Create.
  bool Finish(std::u16string_view page, std::u16string* failure);

 private:
  std::u16string name_;       // as given, for messages
  std::u16string path_;       // made absolute
  std::u16string temporary_;  // the new file beside it, until it takes the name
  platform::FileHandle file_;
};

}  // namespace orvex
