// Cmdfile: the TFile script class (binary and text access to files, TMemory contents included),
// ObjToStr, CreateDir, DeleteFile and the file-mode and seek-origin constants.
#pragma once

#include "scriptlib/FileStream.h"
#include "scriptlib/LibObjects.h"

#include <memory>

// A pooled library object, so that a file a script leaves open is closed when the last script ends.
class TFile : public TLibObject {
 public:
  TFile() : TLibObject("TFile") {}
  size_t InstanceSize() const override { return sizeof(*this); }
  void CleanupInstance() override {}
  std::unique_ptr<CFileStream> stream;  // null while closed
};

// Raises a run-time error for a name with a drive letter or backslashes: such a name from a script
// written for another platform would otherwise quietly name some other file here.
void CheckLinuxPath(const std::string& name);

// TFile, ObjToStr, CreateDir, DeleteFile and the constants, once per process.
void RegisterFileLibrary();
