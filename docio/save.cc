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

namespace {

Result save_bytes(const std::string& bytes, const std::string& file_name) {
  Result written = file_name.empty() ? Result::failure("no file name to save to")
                                     : write_file_atomically(path_from_utf8(file_name), bytes);
  if (!written) return Result::failure("cannot save " + quote_name(file_name) + ": " +
                                       written.message());
  std::cerr << "audio XML file saved OK.";
  return written;
}

}  // namespace

Result save_document(const pugi::xml_document& document, const std::string& file_name) {
  if (file_name.empty()) return save_bytes({}, file_name);
  return save_bytes(serialize_document(document), file_name);
}

Result save_saved_document(const std::string& bytes, const std::string& file_name) {
  return save_bytes(bytes, file_name);
}

}  // namespace quorvel
