// The mixer document: element and attribute names, and the prolog every
// snapshot starts with.
#pragma once

namespace quorvel::doc {

// What every document starts with before its root: the XML declaration,
// a comment, the document type declaration; as the model holds them, and
// as their markup.
inline constexpr const char* kDeclarationVersion = "1.0";
inline constexpr const char* kDeclarationEncoding = "UTF-16";
inline constexpr const char* kComment = "Brevalt Corvane 1.0 ";
inline constexpr const char* kDoctype = "audio_mixer SYSTEM \"audio_mixer.dtd\"";
inline constexpr const char* kDeclarationMarkup = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>";
// The declaration of a document saved in UTF-8 (--utf8).
inline constexpr const char* kDeclarationMarkupUtf8 = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
inline constexpr const char* kCommentMarkup = "<!--Brevalt Corvane 1.0 -->";
inline constexpr const char* kDoctypeMarkup = "<!DOCTYPE audio_mixer SYSTEM \"audio_mixer.dtd\">";

inline constexpr const char* kAudioMixer = "audio_mixer";
inline constexpr const char* kDestination = "destination";
inline constexpr const char* kSource = "source";
inline constexpr const char* kLineControl = "line_control";
inline constexpr const char* kValue = "value";
inline constexpr const char* kMuxList = "mux_list";
inline constexpr const char* kMixerList = "mixer_list";
inline constexpr const char* kItem = "item";
// A sound server's application (a stream, or the rule the server keeps for
// it), after the destinations: its name as its text, then one value per
// channel, as a volume line_control holds them. Never a line: nothing that
// pairs lines or controls ever looks at it.
inline constexpr const char* kApplication = "application";

inline constexpr const char* kId = "id";
inline constexpr const char* kDestinations = "destinations";
inline constexpr const char* kLineId = "line_id";
inline constexpr const char* kChannels = "channels";
inline constexpr const char* kConnections = "connections";
inline constexpr const char* kComponentType = "component_type";
inline constexpr const char* kSrcId = "src_id";
inline constexpr const char* kLineType = "line_type";
inline constexpr const char* kCtrlId = "ctrl_id";
inline constexpr const char* kCtrlType = "ctrl_type";
inline constexpr const char* kSteps = "steps";
inline constexpr const char* kMin = "min";
inline constexpr const char* kMax = "max";
inline constexpr const char* kCh = "ch";
inline constexpr const char* kSelected = "selected";
// Written only where the mixer knows them, after the attributes above:
// on destination and source, the device's own name of the line (a sound
// server's sink or source name) and the identity of the product behind it
// ("VENDOR:PRODUCT", as the device reports them: a USB headset's ids); on
// value, the channel's speaker position.
inline constexpr const char* kServerName = "server_name";
inline constexpr const char* kProductId = "product_id";
inline constexpr const char* kPosition = "position";
// On application: the server's key of it, its channel count, its mute (1
// muted, 0 not) and, in server_name, the device it plays to or records
// from (left out when the server chooses).
inline constexpr const char* kKey = "key";
inline constexpr const char* kMute = "mute";

}  // namespace quorvel::doc
