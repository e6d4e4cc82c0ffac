#include "docio/save.h"

#include <iostream>

#include "platform/os/console.h"
#include "platform/os/file_replace.h"
#include "platform/os/text_encoding.h"
#include "platform/xml/xml_dom.h"

namespace quorvel {

Result write_document(const pugi::xml_document& document, const std::filesystem::path& path) {
  return write_file_atomically(path, serialize_document(document));
}

Result save_document(const pugi::xml_document& document, const std::string& file_name) {
  Result written = file_name.empty() ? Result::failure("no file name to save to")
                                     : write_document(document, path_from_utf8(file_name));
  if (!written) return Result::failure("cannot save " + quote_name(file_name) + ": " +
                                       written.message());
  std::cerr << "audio XML file saved OK.";
  return written;
}

}  // namespace quorvel
