#include <windows.h>

#include "platform/time.h"

namespace platform {

void GetLocalTime(SystemTime* time) {
  SYSTEMTIME now;
  ::GetLocalTime(&now);
  *time = SystemTime{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                     now.wHour, now.wMinute, now.wSecond, now.wMilliseconds};
}

void Sleep(uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
