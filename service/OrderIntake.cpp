#include "service/Unit1.h"

void TDorvanaWebInterface::AddOrder(TWebRequest*, TWebResponse*) {}

std::string TDorvanaWebInterface::ImportOrder(TNativeXml&) { return "ok"; }
