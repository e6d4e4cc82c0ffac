// What a source's bytes are read as.
#pragma once

namespace quorvel {

enum class XmlEncoding { kUtf8, kUtf16Le, kUtf16Be, kUtf32Le, kUtf32Be, kLatin1 };

}  // namespace quorvel
