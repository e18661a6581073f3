#pragma once

#include <hiredis/read.h>

namespace tvk {
namespace libs {
namespace core {
namespace redis {

// The most elements that one array reply may announce.
constexpr int max_array_elements = 1 << 24;

// Makes _reader refuse an array reply that announces more than max_array_elements elements,
// as hiredis refuses what it cannot allocate: the read fails with "Out of memory" and the
// connection is dead. hiredis allocates an announced array at once, so without this a few
// bytes from a peer could cost gigabytes. Call on each reader, one that builds hiredis's own
// replies, before it reads.
void limit_array_replies(redisReader& _reader);

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
