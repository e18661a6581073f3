#include "core/redis/reader.hpp"

namespace tvk {
namespace libs {
namespace core {
namespace redis {

namespace {
// hiredis's own functions, which build every reply; one table serves all its readers.
const redisReplyObjectFunctions* hiredis_functions = nullptr;

void* create_limited_array(const redisReadTask* _task, int _elements) {
    if (_elements > max_array_elements) {
        // hiredis reports a null object as out of memory.
        return nullptr;
    }
    return hiredis_functions->createArray(_task, _elements);
}
}  // namespace

void limit_array_replies(redisReader& _reader) {
    static redisReplyObjectFunctions limited = [&_reader] {
        hiredis_functions = _reader.fn;
        redisReplyObjectFunctions functions = *_reader.fn;
        functions.createArray = &create_limited_array;
        return functions;
    }();
    _reader.fn = &limited;
}

}  // namespace redis
}  // namespace core
}  // namespace libs
}  // namespace tvk
