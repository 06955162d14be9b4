// korvapp.exe entry point.
#include <windows.h>

#include "platform/machine.h"
#include "platform/win32/wide.h"
#include "ui/client_app.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR tail, int) {
  using kv::platform::win32::Narrow;
  kv::ui::ClientApp app(kv::platform::SystemMachine(), Narrow(tail ? tail : L""),
                        Narrow(GetCommandLineW()));
  return app.Run();
}
