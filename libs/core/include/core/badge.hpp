#pragma once

namespace tvk {
namespace libs {
namespace core {

// A passkey: a constructor that takes badge<T> is public, yet only T can call it.
template <class T>
class badge {
    friend T;
    // User-provided, so that no one else can make one by aggregate initialisation.
    badge() {}
};

}  // namespace core
}  // namespace libs
}  // namespace tvk
