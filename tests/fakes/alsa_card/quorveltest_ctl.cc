// A virtual ALSA sound card for the tests: an external control plugin that
// alsa-lib loads as libasound_module_ctl_quorveltest.so when a configuration
// names a control device of type "quorveltest". Every ALSA client (amixer,
// the program under test) then sees a card with the controls of a real
// codec, on any machine, sound hardware or not.
//
// Configuration fields:
//   model "laptop"   the controls of a laptop HDA codec (the default)
//   model "headset"  another element set: a USB headset with a few extras
//   model "surround" a 5.1 card: six-channel volume and switch, and stereo
//                    switches whose channels are apart
//   model "server"   a sound server's mixer as its ALSA plugin shows it: a
//                    5.1 sink whose volume holds values above its declared
//                    maximum, and a virtual source whose volume has no
//                    channels
//   state "PATH"     the file that holds the control values; empty keeps the
//                    values in the process alone
//   step N           volumes keep only raw values N steps apart from their
//                    minimum: a write is rounded down to one, as a driver
//                    whose steps are coarser than it declares (or a sound
//                    server that rounds what it is given) does (default 1)
//   vanish N         the card goes away (a USB card unplugged) after N
//                    writes: every later read or write fails with ENODEV
//   clamp true       values beyond what a control holds are clamped to it
//                    and taken, as some drivers do, instead of refused
//   log "PATH"       a file to which every opening of the card ("open") and
//                    every write of a control ("write NAME") is appended, one
//                    line each; empty logs nothing
//
// The state file holds one line per control, "NAME=V0,V1,...". It is read
// again whenever it has changed (so a value written by another process is
// seen by the next read) and rewritten through a temporary file and a
// rename after every change, so a reader never sees half of it. Values out
// of a control's range are refused with -EINVAL, as a careful driver does;
// a sound server's volume holds more than its declared maximum, up to its
// own limit.
//
// The card raises no events: read_event always answers -EAGAIN.
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

enum class Type { kBoolean, kInteger, kEnumerated };

struct ControlSpec {
  const char* name;
  Type type;
  unsigned channels;
  long min;
  long max;
  std::vector<long> initial;        // per channel; one value serves all
  std::vector<const char*> items;   // enumerations
  std::vector<unsigned> tlv;        // dB data, empty when none
  long hold_max = 0;                // the most the element holds; below max: max
};

// dB data as a driver gives it: a linear scale from `min_centi_db`, in steps
// of `step_centi_db` per raw step.
std::vector<unsigned> db_scale(int min_centi_db, int step_centi_db) {
  return {SND_CTL_TLVT_DB_SCALE, 2 * sizeof(unsigned), static_cast<unsigned>(min_centi_db),
          static_cast<unsigned>(step_centi_db)};
}

ControlSpec volume(const char* name, unsigned channels, long min, long max,
                   std::vector<long> initial, std::vector<unsigned> tlv = {}) {
  return {name, Type::kInteger, channels, min, max, std::move(initial), {}, std::move(tlv)};
}

ControlSpec toggle(const char* name, unsigned channels, long initial) {
  return {name, Type::kBoolean, channels, 0, 1, {initial}, {}, {}};
}

// A switch whose channels start apart.
ControlSpec toggles(const char* name, std::vector<long> initial) {
  const auto channels = static_cast<unsigned>(initial.size());
  return {name, Type::kBoolean, channels, 0, 1, std::move(initial), {}, {}};
}

ControlSpec choice(const char* name, std::vector<const char*> items, long initial) {
  long last = static_cast<long>(items.size()) - 1;
  return {name, Type::kEnumerated, 1, 0, last, {initial}, std::move(items), {}};
}

// A sound server's volume: declared 0..65536 (100 %), holding up to 400 %.
ControlSpec server_volume(const char* name, unsigned channels, std::vector<long> initial) {
  ControlSpec spec = volume(name, channels, 0, 65536, std::move(initial));
  spec.hold_max = 4 * 65536;
  return spec;
}

struct Model {
  const char* id;
  const char* name;
  const char* mixername;
  std::vector<ControlSpec> controls;
};

// A laptop's HDA codec.
Model laptop_model() {
  return {"laptop",
          "Quorvel Test Laptop",
          "Virtual HDA Codec",
          {
              volume("Master Playback Volume", 2, 0, 87, {60, 50}, db_scale(-6525, 75)),
              toggle("Master Playback Switch", 2, 1),
              volume("Headphone Playback Volume", 2, 0, 87, {70}, db_scale(-6525, 75)),
              toggle("Headphone Playback Switch", 2, 0),
              volume("Speaker Playback Volume", 2, 0, 87, {87}, db_scale(-6525, 75)),
              toggle("Speaker Playback Switch", 2, 1),
              volume("PCM Playback Volume", 2, 0, 255, {255, 200}, db_scale(-5100, 20)),
              volume("Front Mic Playback Volume", 2, 0, 31, {0}, db_scale(-3450, 150)),
              toggle("Front Mic Playback Switch", 2, 0),
              volume("Mic Boost Volume", 2, 0, 3, {1}, db_scale(0, 1000)),
              volume("Line Playback Volume", 2, 0, 31, {8}, db_scale(-3450, 150)),
              toggle("Line Playback Switch", 2, 0),
              volume("CD Playback Volume", 2, 0, 31, {12, 14}, db_scale(-3450, 150)),
              toggle("CD Playback Switch", 2, 1),
              volume("Beep Playback Volume", 1, 0, 31, {5}, db_scale(-3450, 150)),
              toggle("Beep Playback Switch", 1, 1),
              volume("Capture Volume", 2, 0, 63, {40, 39}, db_scale(-1725, 75)),
              toggle("Capture Switch", 2, 1),
              choice("Capture Source", {"Front Mic", "Mic", "Line", "CD"}, 1),
              choice("Auto-Mute Mode", {"Disabled", "Enabled"}, 1),
          }};
}

// A USB headset: a joined switch over a stereo volume, a volume wider than
// 65,536 steps whose switch alsa-lib builds from two controls (a playback
// switch and a switch for both directions, on only when both are), capture
// switches that are not exclusive, switches without a volume, and
// enumerations on both sides.
Model headset_model() {
  return {"headset",
          "Quorvel Test Headset",
          "",
          {
              volume("PCM Playback Volume", 2, -10240, 0, {-2560, -3000}),
              toggle("PCM Playback Switch", 1, 1),
              volume("Sidetone Playback Volume", 1, 0, 100000, {25000}),
              toggle("Sidetone Playback Switch", 1, 0),
              toggle("Sidetone Switch", 1, 1),
              volume("Mic Capture Volume", 1, 0, 127, {100}),
              toggle("Mic Capture Switch", 1, 1),
              volume("Line Capture Volume", 2, 0, 31, {10, 20}),
              toggle("Line Capture Switch", 2, 0),
              toggle("IEC958 Playback Switch", 1, 0),
              toggle("Auto Gain Control", 1, 1),
              choice("Channel Mode", {"2ch", "4ch", "6ch"}, 0),
              choice("Mic Select Capture Enum", {"Front", "Rear"}, 1),
          }};
}

// A 5.1 USB card: a six-channel volume and a six-channel switch whose
// channels are apart, stereo switches likewise, and a stereo capture.
Model surround_model() {
  return {"surround",
          "Quorvel Test Surround",
          "Virtual Surround Codec",
          {
              volume("Master Playback Volume", 6, 0, 255, {10, 20, 30, 40, 50, 60}),
              toggles("Master Playback Switch", {1, 0, 1, 1, 0, 1}),
              volume("PCM Playback Volume", 2, 0, 100, {70, 80}),
              toggles("PCM Playback Switch", {0, 1}),
              volume("Capture Volume", 2, 0, 31, {20, 21}),
              toggle("Capture Switch", 2, 1),
          }};
}

// A sound server's mixer through its ALSA plugin: the default sink (5.1,
// one channel at 150 %) and the default source, a virtual one whose volume
// has no channels.
Model server_model() {
  return {"server",
          "Quorvel Test Server",
          "",
          {
              server_volume("Master Playback Volume", 6, {65536, 65536, 32768, 32768, 49152, 98304}),
              toggle("Master Playback Switch", 1, 1),
              server_volume("Capture Volume", 0, {0}),
              toggle("Capture Switch", 1, 1),
          }};
}

struct Card {
  snd_ctl_ext_t ext;
  Model model;
  std::string state_path;
  long step = 1;
  bool clamp = false;
  long vanish = -1;  // the writes before the card goes away; -1: never
  long writes = 0;
  std::string log_path;
  std::vector<std::vector<long>> values;
  // What the state file looked like when last read or written.
  bool seen = false;
  ino_t seen_inode = 0;
  timespec seen_time{};
  off_t seen_size = 0;
};

Card* card_of(snd_ctl_ext_t* ext) { return static_cast<Card*>(ext->private_data); }

void reset_values(Card& card) {
  card.values.clear();
  for (const ControlSpec& spec : card.model.controls) {
    std::vector<long> channels(spec.channels);
    for (unsigned c = 0; c < spec.channels; ++c) {
      channels[c] = c < spec.initial.size() ? spec.initial[c] : spec.initial.front();
    }
    card.values.push_back(std::move(channels));
  }
}

// Whether the control holds `value`: within its range, or up to what a
// sound server's volume holds beyond it.
bool in_range(const ControlSpec& spec, long value) {
  return value >= spec.min && value <= std::max(spec.max, spec.hold_max);
}

void remember(Card& card, const struct stat& info) {
  card.seen = true;
  card.seen_inode = info.st_ino;
  card.seen_time = info.st_mtim;
  card.seen_size = info.st_size;
}

// Reads the state file again when it changed since it was last seen. A
// missing file leaves the values as they are.
void sync_from_file(Card& card) {
  if (card.state_path.empty()) return;
  struct stat info;
  if (stat(card.state_path.c_str(), &info) != 0) return;
  if (card.seen && info.st_ino == card.seen_inode && info.st_size == card.seen_size &&
      info.st_mtim.tv_sec == card.seen_time.tv_sec &&
      info.st_mtim.tv_nsec == card.seen_time.tv_nsec) {
    return;
  }
  std::ifstream in(card.state_path);
  if (!in) return;
  reset_values(card);
  std::string line;
  while (std::getline(in, line)) {
    std::size_t equals = line.rfind('=');
    if (equals == std::string::npos) continue;
    std::string name = line.substr(0, equals);
    for (std::size_t k = 0; k < card.model.controls.size(); ++k) {
      const ControlSpec& spec = card.model.controls[k];
      if (name != spec.name) continue;
      std::istringstream numbers(line.substr(equals + 1));
      std::string field;
      for (unsigned c = 0; c < spec.channels && std::getline(numbers, field, ','); ++c) {
        char* end = nullptr;
        long value = std::strtol(field.c_str(), &end, 10);
        if (end != field.c_str() && in_range(spec, value)) card.values[k][c] = value;
      }
    }
  }
  remember(card, info);
}

// Appends one line to the log file, when there is one.
void log_line(const Card& card, const std::string& line) {
  if (card.log_path.empty()) return;
  FILE* out = std::fopen(card.log_path.c_str(), "a");
  if (out == nullptr) return;
  std::fprintf(out, "%s\n", line.c_str());
  std::fclose(out);
}

// Writes every value to the state file through a temporary file and a
// rename.
int save_to_file(Card& card) {
  if (card.state_path.empty()) return 0;
  std::string text;
  for (std::size_t k = 0; k < card.model.controls.size(); ++k) {
    text += card.model.controls[k].name;
    text += '=';
    for (std::size_t c = 0; c < card.values[k].size(); ++c) {
      if (c > 0) text += ',';
      text += std::to_string(card.values[k][c]);
    }
    text += '\n';
  }
  std::string temporary = card.state_path + ".tmp" + std::to_string(getpid());
  FILE* out = std::fopen(temporary.c_str(), "w");
  if (out == nullptr) return -errno;
  bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  written = std::fclose(out) == 0 && written;
  if (!written || std::rename(temporary.c_str(), card.state_path.c_str()) != 0) {
    int error = errno != 0 ? errno : EIO;
    std::remove(temporary.c_str());
    return -error;
  }
  struct stat info;
  if (stat(card.state_path.c_str(), &info) == 0) remember(card, info);
  return 0;
}

// ---- Callbacks -----------------------------------------------------------

void card_close(snd_ctl_ext_t* ext) { delete card_of(ext); }

int elem_count(snd_ctl_ext_t* ext) {
  return static_cast<int>(card_of(ext)->model.controls.size());
}

int elem_list(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
  Card& card = *card_of(ext);
  if (offset >= card.model.controls.size()) return -EINVAL;
  snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
  snd_ctl_elem_id_set_name(id, card.model.controls[offset].name);
  return 0;
}

snd_ctl_ext_key_t find_elem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
  Card& card = *card_of(ext);
  if (snd_ctl_elem_id_get_interface(id) != SND_CTL_ELEM_IFACE_MIXER ||
      snd_ctl_elem_id_get_index(id) != 0) {
    return SND_CTL_EXT_KEY_NOT_FOUND;
  }
  const char* name = snd_ctl_elem_id_get_name(id);
  for (std::size_t k = 0; k < card.model.controls.size(); ++k) {
    if (std::strcmp(name, card.model.controls[k].name) == 0) return k;
  }
  return SND_CTL_EXT_KEY_NOT_FOUND;
}

int get_attribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* access,
                  unsigned int* count) {
  const ControlSpec& spec = card_of(ext)->model.controls.at(key);
  switch (spec.type) {
    case Type::kBoolean: *type = SND_CTL_ELEM_TYPE_BOOLEAN; break;
    case Type::kInteger: *type = SND_CTL_ELEM_TYPE_INTEGER; break;
    case Type::kEnumerated: *type = SND_CTL_ELEM_TYPE_ENUMERATED; break;
  }
  *access = SND_CTL_EXT_ACCESS_READWRITE;
  if (!spec.tlv.empty()) *access |= SND_CTL_EXT_ACCESS_TLV_READ | SND_CTL_EXT_ACCESS_TLV_CALLBACK;
  *count = spec.channels;
  return 0;
}

int get_integer_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* min, long* max,
                     long* step) {
  const ControlSpec& spec = card_of(ext)->model.controls.at(key);
  *min = spec.min;
  *max = spec.max;
  *step = 0;
  return 0;
}

int get_enumerated_info(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  *items = static_cast<unsigned>(card_of(ext)->model.controls.at(key).items.size());
  return 0;
}

int get_enumerated_name(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int item,
                        char* name, size_t name_max_len) {
  const ControlSpec& spec = card_of(ext)->model.controls.at(key);
  if (item >= spec.items.size() || name_max_len == 0) return -EINVAL;
  std::snprintf(name, name_max_len, "%s", spec.items[item]);
  return 0;
}

bool vanished(const Card& card) { return card.vanish >= 0 && card.writes >= card.vanish; }

int read_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  Card& card = *card_of(ext);
  if (vanished(card)) return -ENODEV;
  sync_from_file(card);
  const std::vector<long>& values = card.values.at(key);
  for (std::size_t c = 0; c < values.size(); ++c) value[c] = values[c];
  return 0;
}

int read_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  Card& card = *card_of(ext);
  if (vanished(card)) return -ENODEV;
  sync_from_file(card);
  const std::vector<long>& values = card.values.at(key);
  for (std::size_t c = 0; c < values.size(); ++c) items[c] = static_cast<unsigned>(values[c]);
  return 0;
}

// Takes new values for control `key` when every one is in range. Returns 1
// when something changed, 0 when nothing did, or a negative error.
int take_values(Card& card, snd_ctl_ext_key_t key, std::vector<long> incoming) {
  if (vanished(card)) return -ENODEV;
  ++card.writes;
  sync_from_file(card);
  const ControlSpec& spec = card.model.controls.at(key);
  log_line(card, std::string("write ") + spec.name);
  for (long& value : incoming) {
    if (!in_range(spec, value)) {
      if (!card.clamp) return -EINVAL;
      value = std::clamp(value, spec.min, std::max(spec.max, spec.hold_max));
    }
    if (spec.type == Type::kInteger) value -= (value - spec.min) % card.step;
  }
  if (card.values[key] == incoming) return 0;
  card.values[key] = std::move(incoming);
  int error = save_to_file(card);
  return error < 0 ? error : 1;
}

int write_integer(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  Card& card = *card_of(ext);
  const ControlSpec& spec = card.model.controls.at(key);
  return take_values(card, key, std::vector<long>(value, value + spec.channels));
}

int write_enumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  Card& card = *card_of(ext);
  const ControlSpec& spec = card.model.controls.at(key);
  std::vector<long> incoming;
  for (unsigned c = 0; c < spec.channels; ++c) incoming.push_back(static_cast<long>(items[c]));
  return take_values(card, key, incoming);
}

int read_event(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned int*) { return -EAGAIN; }

int tlv_callback(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int op_flag, unsigned int,
                 unsigned int* tlv, unsigned int tlv_size) {
  const ControlSpec& spec = card_of(ext)->model.controls.at(key);
  if (op_flag != 0 || spec.tlv.empty()) return -ENXIO;
  std::size_t bytes = spec.tlv.size() * sizeof(unsigned);
  if (tlv_size < bytes) return -ENOMEM;
  std::memcpy(tlv, spec.tlv.data(), bytes);
  return 0;
}

snd_ctl_ext_callback_t make_callbacks() {
  snd_ctl_ext_callback_t callbacks{};
  callbacks.close = card_close;
  callbacks.elem_count = elem_count;
  callbacks.elem_list = elem_list;
  callbacks.find_elem = find_elem;
  callbacks.get_attribute = get_attribute;
  callbacks.get_integer_info = get_integer_info;
  callbacks.get_enumerated_info = get_enumerated_info;
  callbacks.get_enumerated_name = get_enumerated_name;
  callbacks.read_integer = read_integer;
  callbacks.read_enumerated = read_enumerated;
  callbacks.write_integer = write_integer;
  callbacks.write_enumerated = write_enumerated;
  callbacks.read_event = read_event;
  return callbacks;
}

const snd_ctl_ext_callback_t kCallbacks = make_callbacks();

void copy_field(char* field, std::size_t size, const char* text) {
  std::snprintf(field, size, "%s", text);
}

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(quorveltest) {
  (void)root;
  std::string model = "laptop";
  std::string state;
  std::string log;
  long step = 1;
  long vanish = -1;
  bool clamp = false;
  snd_config_iterator_t i;
  snd_config_iterator_t next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* entry = snd_config_iterator_entry(i);
    const char* id = nullptr;
    if (snd_config_get_id(entry, &id) < 0) continue;
    if (std::strcmp(id, "comment") == 0 || std::strcmp(id, "type") == 0) continue;
    const char* text = nullptr;
    if (std::strcmp(id, "model") == 0 || std::strcmp(id, "state") == 0 ||
        std::strcmp(id, "log") == 0) {
      if (snd_config_get_string(entry, &text) < 0) {
        SNDERR("quorveltest: %s must be a string", id);
        return -EINVAL;
      }
      std::string& field = std::strcmp(id, "model") == 0   ? model
                           : std::strcmp(id, "state") == 0 ? state
                                                           : log;
      field = text;
      continue;
    }
    if (std::strcmp(id, "vanish") == 0) {
      if (snd_config_get_integer(entry, &vanish) < 0 || vanish < 0) {
        SNDERR("quorveltest: vanish must be a whole number");
        return -EINVAL;
      }
      continue;
    }
    if (std::strcmp(id, "step") == 0) {
      if (snd_config_get_integer(entry, &step) < 0 || step < 1) {
        SNDERR("quorveltest: step must be a positive integer");
        return -EINVAL;
      }
      continue;
    }
    if (std::strcmp(id, "clamp") == 0) {
      const int on = snd_config_get_bool(entry);
      if (on < 0) {
        SNDERR("quorveltest: clamp must be true or false");
        return -EINVAL;
      }
      clamp = on != 0;
      continue;
    }
    SNDERR("quorveltest: unknown field %s", id);
    return -EINVAL;
  }

  Card* card = new Card();
  if (model == "laptop") {
    card->model = laptop_model();
  } else if (model == "headset") {
    card->model = headset_model();
  } else if (model == "surround") {
    card->model = surround_model();
  } else if (model == "server") {
    card->model = server_model();
  } else {
    SNDERR("quorveltest: unknown model %s", model.c_str());
    delete card;
    return -EINVAL;
  }
  card->state_path = state;
  card->step = step;
  card->clamp = clamp;
  card->vanish = vanish;
  card->log_path = log;
  log_line(*card, "open");
  reset_values(*card);
  sync_from_file(*card);

  snd_ctl_ext_t& ext = card->ext;
  ext.version = SND_CTL_EXT_VERSION;
  ext.card_idx = 0;
  copy_field(ext.id, sizeof ext.id, "QuorvelTest");
  copy_field(ext.driver, sizeof ext.driver, "quorveltest");
  copy_field(ext.name, sizeof ext.name, card->model.name);
  copy_field(ext.longname, sizeof ext.longname, card->model.name);
  copy_field(ext.mixername, sizeof ext.mixername, card->model.mixername);
  ext.poll_fd = -1;
  ext.callback = &kCallbacks;
  ext.private_data = card;
  ext.tlv.c = tlv_callback;

  int error = snd_ctl_ext_create(&ext, name, mode);
  if (error < 0) {
    delete card;
    return error;
  }
  *handlep = ext.handle;
  return 0;
}

SND_CTL_PLUGIN_SYMBOL(quorveltest);

}  // extern "C"
