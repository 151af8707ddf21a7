// Exported texts for failures: a result code's name and meaning, and why the
// calling thread's last open failed.
#include "engine/channels.h"
#include "quiblink/quiblink.h"
#include "quiblink/quiblink_errors.h"
#include "quiblink/quiblink_ext.h"
#include "quiblink/quiblink_results.h"

extern "C" {

QUIB_API const char *QUIB_CALL QUIB_ResultText(int16_t code) {
#define QUIB_RESULT_TEXT(name, value, meaning) \
  if (code == (value)) return #name ": " meaning;
  QUIB_RESULTS(QUIB_RESULT_TEXT)
  QUIB_EXT_RESULTS(QUIB_RESULT_TEXT)
#undef QUIB_RESULT_TEXT
  return "RC_UNKNOWN: unknown result code";
}

QUIB_API int32_t QUIB_CALL QUIB_LastOpenError(char *text, uint16_t size) {
  return quib::LastOpenFailure(text, size);
}

}  // extern "C"
