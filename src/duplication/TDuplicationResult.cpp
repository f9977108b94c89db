#include "duplication/TDuplicationResult.h"

const char* DuplicationResultName(int32_t result)
{
    switch (result) {
    case drOk:
        return "drOk";
    case drTimeout:
        return "drTimeout";
    case drAccessLost:
        return "drAccessLost";
    case drError:
        return "drError";
    default:
        return "dr?";
    }
}
