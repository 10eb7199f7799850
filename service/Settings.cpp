#include "service/Unit1.h"

std::string TDorvanaWebInterface::ApplySettingsAndConnect() { return ""; }
