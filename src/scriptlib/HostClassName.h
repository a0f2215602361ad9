// IHostClassName: host objects that know their class name as written, for TObject.ClassName
// (the live-object registry keeps class names upper-cased).
#pragma once

#include <string>

class IHostClassName {
 public:
  virtual ~IHostClassName() = default;
  virtual std::string HostClassName() const = 0;
};
