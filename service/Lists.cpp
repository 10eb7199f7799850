#include "service/Unit1.h"

void TDorvanaWebInterface::GetSprFood(TWebRequest*, TWebResponse*) {}

void TDorvanaWebInterface::GetSprFoodGroup(TWebRequest*, TWebResponse*) {}

void TDorvanaWebInterface::GetSprStewards(TWebRequest*, TWebResponse*) {}
