#pragma once
// The real shutdown. Only the program itself is linked with it, never a test.
#include <memory>

#include "app/Seams.h"

std::unique_ptr<IShutdown> MakeSystemShutdown();
