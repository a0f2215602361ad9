// What controls hand to scripts besides plain values: string lists backed by a control (Items,
// Lines), the font object, and the hook that turns mouse, key and focus events into event
// properties. The component kinds themselves are in Formcontrols.cpp.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "forms/Formcomp.h"

using TLinesGet = std::function<std::vector<std::string>()>;
using TLinesSet = std::function<void(const std::vector<std::string>&)>;

// The strings object of a control property (made once, owned by the component).
TValue StringsObject(TComponent& c, const std::string& key, TLinesGet get, TLinesSet set);
// Lines from a text (split at line feeds, a last empty line dropped) and back.
std::vector<std::string> SplitLines(const std::string& text);
std::string JoinLines(const std::vector<std::string>& lines);

TValue FontObject(TControl& c);
// One part of a control's font: NAME, SIZE, HEIGHT, COLOR, STYLE.
void SetFontPart(TControl& c, const std::string& upperPart, const TValue& v);
TValue GetFontPart(TControl& c, const std::string& upperPart);
void ApplyColor(TControl& c, int color);

void InstallControlHook(TControl& c);
void DropSubObjects(TComponent& c);
void RegisterSubObjectNames();
// Every component kind (Formcontrols.cpp).
void RegisterComponentKinds();
