// The application object: runs the product dialog when a catalog exists, then the main
// dialog, and ends the program when the main dialog ends.
#pragma once

#include "platform/ui/framework.h"

class CFlasherApp : public ui::CWinApp {
 public:
  bool InitInstance() override;
};
