// Operators of the value type: arithmetic, logic and comparison by the category table.
// The interpreter calls these for everything its inline fast paths do not cover.
#pragma once
#include "script/Value.h"

// Operator numbers, equal to the interpreter's op codes.
enum TValueOp : int {
  voAdd = 0,
  voSub = 1,
  voMul = 2,
  voIntDiv = 3,
  voMod = 4,
  voDiv = 5,
  voShl = 6,
  voShr = 7,
  voNot = 8,
  voOr = 9,
  voXor = 10,
  voAnd = 11,
  voGe = 12,
  voEq = 13,
  voLe = 14,
  voNe = 15,
  voGt = 16,
  voLt = 17
};

// left := left <op> right for the binary operators 0..7 and 9..11.
void ValueBinary(int op, TValue& left, const TValue& right);
// v := -v.
void ValueNegate(TValue& v);
// v := not v (bitwise on integers, logical on booleans).
void ValueNot(TValue& v);
// The comparison 12..17 by the value rules (no kind restriction; the interpreter adds its own).
bool ValueCompare(int op, const TValue& left, const TValue& right);
// Equality as scripts see it, for host code (same rules as op 13).
bool ValueEquals(const TValue& left, const TValue& right);
