// Holds the export list to the public headers at compile time: each entry's
// signature is its declaration's, and on 32-bit Windows each stack size is
// what the stdcall decoration of that declaration carries. The list and
// quiblink.def are compared by a test.
#include <stddef.h>

#include <type_traits>

#include "exports/export_list.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"

namespace {

#define QUIB_SAME_SIGNATURE(result, name, parameters, stack_bytes)                 \
  static_assert(std::is_same_v<decltype(&::name), result(QUIB_CALL *) parameters>, \
                #name ": the export list differs from the declaration");
QUIB_EXPORT_LIST(QUIB_SAME_SIGNATURE)
#undef QUIB_SAME_SIGNATURE

// Callers in other languages lay the group table out as three 32-bit fields.
static_assert(sizeof(QUIB_GroupEntry) == 12 && offsetof(QUIB_GroupEntry, offset) == 4 &&
                  offsetof(QUIB_GroupEntry, length) == 8,
              "QUIB_GroupEntry has padding");

#if defined(_WIN32) && !defined(_WIN64)
// Bytes of arguments a stdcall function takes off the stack: each argument
// fills at least one 32-bit slot.
template <typename F>
struct StackBytes;
template <typename R, typename... A>
struct StackBytes<R(QUIB_CALL *)(A...)> {
  static constexpr int value = (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
};
#define QUIB_SAME_STACK(result, name, parameters, stack_bytes)       \
  static_assert(StackBytes<decltype(&::name)>::value == stack_bytes, \
                #name ": the export list's stack size differs from the declaration's");
QUIB_EXPORT_LIST(QUIB_SAME_STACK)
#undef QUIB_SAME_STACK
#endif

}  // namespace
