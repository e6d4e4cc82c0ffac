#include "platform/mixer/mixer.h"

#include <utility>

namespace quorvel {

MixerResult read_control(Mixer& mixer, std::uint32_t control_id, std::uint32_t channels,
                         std::vector<std::int32_t>& values) {
  ValueRead read;
  read.control_id = control_id;
  read.channels = channels;
  mixer.read(0, {&read, 1});
  values = std::move(read.values);
  return read.result;
}

MixerResult write_control(Mixer& mixer, std::uint32_t control_id,
                          std::vector<std::int32_t> values) {
  ValueWrite write;
  write.control_id = control_id;
  write.values = std::move(values);
  mixer.write(0, {&write, 1});
  return write.result;
}

}  // namespace quorvel
