// THalCompiler: single-pass recursive-descent compiler from script source (and its units) to a
// program image. Reader in HalLexer.cpp, declarations in HalCompilerDecl.cpp, statements in
// HalCompilerStmt.cpp, expressions and calls in HalCompilerExpr.cpp, tables and image in HalImage.cpp.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "script/BinProg.h"
#include "script/DynaVars.h"
#include "script/ScriptErrors.h"
#include "script/Value.h"

// Token codes.
enum : int32_t {
  tkEOF = 0,
  tkIdent = 256,
  tkString = 257,
  tkNumber = 258,
  tkResConst = 261,
  tkHex = 262,
  rwProgram = 1000,
  rwLabel,
  rwGoto,
  rwVar,
  rwBegin,
  rwEnd,
  rwAnd,
  rwOr,
  rwXor,
  rwNot,
  rwShl,
  rwShr,
  rwDiv,
  rwMod,
  rwTrue,
  rwFalse,
  rwIf,
  rwThen,
  rwElse,
  rwWhile,
  rwRepeat,
  rwUntil,
  rwFor,
  rwTo,
  rwDownTo,
  rwDo,
  rwHalt,
  rwNil,
  rwInitialization = 1031,
  rwFinalization,
  rwClass,
  rwType,
  rwConstructor,
  rwDestructor,
  rwUses,
  rwUnit,
  rwInterface,
  rwImplementation,
  rwProcedure,
  rwPrivate,
  rwPublic,
  rwProtected,
  rwPublished,
  rwFunction,
  rwConst,
  rwProperty,
  rwVirtual,
  rwOverride,
  rwDynamic,
  rwRecord,
  rwForward,
  rwIndex,
  rwStored = 1057,
  rwDefault,
  rwAbstract,
  rwIncludes = 1060,
  rwStdcall = 1069
};

struct TToken {
  int32_t code = tkEOF;
  TValue value;
};

// Reserved words, filled at engine start: upper-cased word -> code.
int ResWordCode(std::string_view upperWord);  // 0 when not reserved
void FillResWords();

// Identifier entry: variables, parameters and Result (kind 0), routines (1), constants (3).
struct TIdentListItem {
  int Number = 0;
  std::string PlainName;
  std::string TypeName;
  int Kind = 0;
  int ParamCount = 0;
  uint8_t ByRef[100] = {};
  std::vector<std::string> ParamNames;
};
// Hashed: the compiler looks names up several times per identifier it reads.
struct THalNameHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using TIdentList = std::unordered_map<std::string, TIdentListItem, THalNameHash, std::equal_to<>>;

// Loads a unit's text by the path written in `uses`; false when it cannot be opened.
using TUnitLoader = std::function<bool(const std::string& path, std::string& text)>;

// Position value pairs returned by source-scanning tools.
struct TPosList {
  std::vector<std::pair<int32_t, int32_t>> items;
  void AddPos(int32_t pos, int32_t value) { items.emplace_back(pos, value); }
};

int32_t Hex2Dec(std::string_view text);

class THalCompiler {
 public:
  THalCompiler(std::string_view source, std::string& output);
  ~THalCompiler();
  THalCompiler(const THalCompiler&) = delete;
  THalCompiler& operator=(const THalCompiler&) = delete;
  void SetOwner(const void* owner) { owner_ = owner; }
  void SetNamedObjects(const tobjcollect* objects) { objects_ = objects; }
  void SetUnitLoader(TUnitLoader loader) { unitLoader_ = std::move(loader); }
  // Called once per token so that a host can keep its user interface responsive.

  void compile();  // compileprogram, then writeprogram
  const TIdentList& Identifiers() const { return idents_; }
  const std::string& ClassParentName() const { return classParent_; }

  // Reader (public for the source-scanning tools and the tests).
  int ReadByte();
  int NextByte();
  void BackBytes(int n);
  void ReadToken(TToken& t);
  void NextToken(TToken& t);
  int GetLineNumber() const { return line_; }
  void ConvertCurPos(int& line, int& column) const;
  [[noreturn]] void error(const std::string& message);

 private:
  struct TLabelItem {
    bool referenced = false, placed = false;
    int place = 0;
  };
  struct TReaderState {
    std::string_view src;
    int pos, furthest, line;
  };
  // ---- reader (HalLexer.cpp)
  void skipLineComment();
  void skipBlockComment(int opener);
  void readString(int quote, TToken& t);
  void readWord(int first, TToken& t);
  void lexToken(TToken& t);
  bool takePeeked(TToken& t);
  // ---- tables and code (HalImage.cpp)
  void putcode(int op, int a, int b);
  void flushLine();
  int here();  // index the next instruction gets (pending line marker included)
  int newLabel(bool referenced);
  void placeLabel(int label);
  int addConst(const TValue& v);
  void writeprogram();
  int newTemp();
  // ---- declarations (HalCompilerDecl.cpp)
  void compileprogram();
  void getdeclarations();
  void getmyvariables();
  void GetConst();
  void gettypeidentifier();
  void getclassdef();
  TIdentListItem* getprocdef(bool inClass);
  std::string readRoutineName();
  void getParameterList(TIdentListItem& routine);
  void getParameterGroup(TIdentListItem& routine, int first);
  void skipDirectives();
  void getprocbody(TIdentListItem* routine, const std::string& plainName);
  void getlabels();
  void getglobalnames();
  void GetUses();
  void compileunit(const std::string& path, const std::string& text);
  void unitpart(const char* name);
  void unitclosing();
  std::string keyFor(const std::string& name) const;
  TIdentListItem* AddVars(const std::string& name, int number, int kind);
  TIdentListItem* VarByName(const std::string& name);
  std::string VarIDByName(const std::string& name);  // key found, or empty; found_ then points at its entry
  TIdentListItem* VarByNameThisLevel(const std::string& name);
  bool IsGlobalVar(std::string_view name) const { return globals_.find(name) != globals_.end(); }
  void pushScope(const std::string& name) { scope_ += name + "."; }
  void popScope();
  // ---- statements (HalCompilerStmt.cpp)
  void getoperatorblock();
  void getoperatorcoma();
  void getoperator();
  void getifoperator();
  void getwhileoperator();
  void getrepeatoperator();
  void getforoperator();
  struct TBinding {
    bool bound = false, isSlot = false;
    int slot = 0;
    TObjHandle obj = 0;
  };
  void equaldispath(const std::string& name, const TBinding& binding);
  void labeldispatch(const std::string& name);
  void gotodispatch();
  std::string readDottedName(const std::string& first);
  // ---- expressions and calls (HalCompilerExpr.cpp)
  int myexpress();
  int iexpression();
  int isimpleexpression();
  int iterm();
  int ifactor();
  int identfactor(const std::string& first);
  int numberfactor(const TToken& t);
  int stringfactor(const TToken& t);
  int getuserfunction(const std::string& name, bool statement, const TBinding& binding);
  int getinternalfun(const std::string& key, const TIdentListItem& routine);
  int GetOpenArray(bool bracketsRequired);
  int getvar();
  int findHost(const std::string& name);
  void emitBinding(const TBinding& binding);
  void emitHostCall(int entry, const std::vector<int>& argSlots, int resultSlot);
  std::string findobject(const std::string& first);
  int loadConst(const TValue& v);
  void expect(int code, const char* message);
  static std::string tokenText(const TToken& t);

  // reader state
  std::string_view src_;
  int pos_ = 0, furthest_ = 0, line_ = 1;
  bool hexFlag_ = false, peeking_ = false;
  TToken last_;
  // compiler state
  std::string unitPrefix_, scope_;
  std::string keyBuf_, scopeBuf_;    // scratch of the name search
  TIdentListItem* found_ = nullptr;  // the entry VarIDByName found last
  std::set<std::string, std::less<>> globals_;
  std::vector<std::string> units_;
  std::map<std::string, int> labelNames_;
  TIdentList idents_;
  std::vector<TValue> consts_;
  std::vector<TLabelItem> labels_;
  std::vector<TProgItem> code_;
  bool pendingLine_ = false;
  int pendingLineNo_ = 0;
  bool isUnit_ = false;
  int nextSlot_ = 0, highSlot_ = 0;
  const void* owner_ = nullptr;
  const tobjcollect* objects_ = nullptr;
  TBinding bind_;           // binding of the last dotted name read
  std::string lastWord_;    // text of the last word read (for real constants)
  bool lexedWord_ = false;  // the last token lexed was a word
  // The token last looked ahead at, so that reading it next does not lex it again (tokens depend
  // only on the text, the position and the hex flag).
  struct TPeeked {
    bool valid = false, word = false, hexIn = false, hexOut = false;
    const char* src = nullptr;
    int from = 0, to = 0;
    TToken token;
    std::string lastWord;
  } peeked_;
  bool lastWasLabel_ = false;
  std::string classParent_;
  std::string& output_;
  TUnitLoader unitLoader_;
  int depth_ = 0;  // nesting of expressions and statements, bounded against stack exhaustion
  friend struct TDepthGuard;
};

// Bounds the recursion of the parser so that deeply nested input is an error, not a crash.
struct TDepthGuard {
  THalCompiler& c;
  explicit TDepthGuard(THalCompiler& comp);
  ~TDepthGuard();
  TDepthGuard(const TDepthGuard&) = delete;
  TDepthGuard& operator=(const TDepthGuard&) = delete;
};
