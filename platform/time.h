// Clock operations, mirrors of the kernel32 calls of the same name.
#ifndef PLATFORM_TIME_H_
#define PLATFORM_TIME_H_

#include <cstdint>

namespace platform {

// SYSTEMTIME, field for field.
struct SystemTime {
  uint16_t year;
  uint16_t month;      // 1..12
  uint16_t dayOfWeek;  // 0 = Sunday
  uint16_t day;        // 1..31
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  uint16_t milliseconds;
};

// GetLocalTime: the current date and time in the machine's time zone.
void GetLocalTime(SystemTime* time);

// Sleep: returns after at least `milliseconds`.
void Sleep(uint32_t milliseconds);

}  // namespace platform

#endif  // PLATFORM_TIME_H_
