// Cmdtime: calendar time in whole seconds with one text format (Time, TimeToStr, StrToTime), the
// string helpers Pos2 and TStringList.Tokenize, and the script names of the string pipes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class CStringList;

// Local time as "d.m.yyyy hh:mm:ss" with the hour blank-padded to two places.
std::string TimeToText(int32_t seconds);
// Seconds for a local time in that format (numbers missing at the end count as 0); false when the
// text does not give a time that 32-bit seconds can hold.
bool TextToTime(std::string_view text, int32_t& seconds);
// 1-based position of part in text at or after start; 0 when absent or start is outside the text.
int32_t Pos2Text(std::string_view text, int64_t start, std::string_view part);
// Appends the tokens of text split at any of the delimiters; the whole text when there is none.
void TokenizeInto(CStringList& list, std::string_view text, std::string_view delimiters);

// Time functions, Pos2, Tokenize and the pipes, once per process; also hooks the pipes into the end
// of every run (locks released) and the end of the last one (pipes gone).
void RegisterTimeLibrary();
