#include "log/Log.h"

TScopedLog::TScopedLog(const char* qualifiedName, const int* pResultVariable)
    : strName(qualifiedName != nullptr ? qualifiedName : ""), pResult(pResultVariable)
{
    LogInfo("%s", strName.c_str());
}

TScopedLog::~TScopedLog()
{
    LogInfo("%s exit with %d", strName.c_str(), pResult != nullptr ? *pResult : 0);
}
