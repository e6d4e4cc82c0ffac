#include "app/load_step.h"

#include <iostream>

#include "app/console_reporter.h"
#include "app/run.h"
#include "docio/load.h"
#include "platform/os/console.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

Result run_load_step(InputDocument& input, const std::string& file_name, bool local_flag,
                     bool url_flag, PreparedLoad* prepared) {
  if (local_flag) {
    // The stream path: a source that does not open ends the run here.
    DocumentStream stream;
    Result opened = open_document_stream(file_name, stream);
    if (!opened) {
      // The reason, on a line of its own, before the fixed text.
      console().text(mask_passwords(opened.message()) + "\n" + kFileNotFound);
      return Result::failure(opened.message(), kLoadStopsRun);
    }
    return load_from_stream(input, stream, console());
  }
  const std::string utf8_name = system_to_utf8(file_name);
  Result loaded =
      url_flag ? load_from_url(input, utf8_name, console())
               : load_from_file(input, utf8_name, console(), prepared);
  if (!loaded) console().text(kFileNotFound);
  return loaded;
}

PreparedLoad begin_load_step(const std::optional<std::string>& file_name, bool local_flag,
                             bool url_flag) {
  if (!file_name || local_flag || url_flag) return PreparedLoad();
  return PreparedLoad::begin(system_to_utf8(*file_name));
}

}  // namespace quorvel
