// lsan_quarantine.cpp: with its contract checks on, the reader library keeps dead reader
// objects and traversers (to recognise calls on them), so those are not reported as leaks.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:ffrAccess::NewObject\nleak:ffrAccess::NewTraverser\n";
}
