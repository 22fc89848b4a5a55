// fst_none.cpp: stands in for the FST peer when its sources are not installed.
#include "fst_peer.h"

namespace bench {

bool FstAvailable()
{
    return false;
}
bool WriteFst(const std::string&, const FilePlan&)
{
    return false;
}
bool ReadFstSignal(const std::string&, const FilePlan&, size_t)
{
    return false;
}
bool ReadFstBus(const std::string&, const FilePlan&)
{
    return false;
}

}  // namespace bench
