#include "docio/save.h"


#include "platform/document/document_writer.h"
#include "platform/document/saved_writer.h"
#include "platform/os/console.h"
#include "platform/os/file_replace.h"
#include "platform/os/text_encoding.h"

namespace quorvel {

Result save_saved_document(const std::string& bytes, const std::string& file_name,
                           Reporter& reporter) {
  Result written = file_name.empty() ? Result::failure("no file name to save to")
                                     : write_file_atomically(path_from_utf8(file_name), bytes);
  if (!written) return Result::failure("cannot save " + quote_name(file_name) + ": " +
                                       written.message());
  reporter.text("audio XML file saved OK.");
  return written;
}

Result save_document(const Document& document, const std::string& file_name,
                     Reporter& reporter, SavedEncoding encoding) {
  std::string bytes;
  SavedDocumentWriter writer(bytes, encoding);
  write_document(document, writer);
  return save_saved_document(bytes, file_name, reporter);
}

}  // namespace quorvel
