// The numbers formula tokens are made of (ptgs, tAttr bits, error codes) and the limits of what
// they can hold, shared by the decompiler and the compiler.
#pragma once

#include <QString>

#include <optional>

namespace corvane::automation::native::biff {

// A FORMULA record holds at most 8224 bytes, 22 of them before the tokens, and cannot continue.
constexpr int kMaxTokenBytes = 8224 - 22;
constexpr int kMaxNesting = 100;
constexpr int kMaxRow = 65535;
constexpr int kMaxColumn = 255;

// Ptg numbers of the base tokens; classed tokens carry their class in bits 5-6.
enum Ptg : int
{
    PtgExp = 0x01,
    PtgTbl = 0x02,
    PtgAdd = 0x03,
    PtgSub = 0x04,
    PtgMul = 0x05,
    PtgDiv = 0x06,
    PtgPower = 0x07,
    PtgConcat = 0x08,
    PtgLt = 0x09,
    PtgLe = 0x0A,
    PtgEq = 0x0B,
    PtgGe = 0x0C,
    PtgGt = 0x0D,
    PtgNe = 0x0E,
    PtgIsect = 0x0F,
    PtgUnion = 0x10,
    PtgRange = 0x11,
    PtgUplus = 0x12,
    PtgUminus = 0x13,
    PtgPercent = 0x14,
    PtgParen = 0x15,
    PtgMissArg = 0x16,
    PtgStr = 0x17,
    PtgAttr = 0x19,
    PtgErr = 0x1C,
    PtgBool = 0x1D,
    PtgInt = 0x1E,
    PtgNum = 0x1F,
    // Classed, reference class (0x20 + n); value class adds 0x20, array class 0x40.
    PtgArray = 0x00,
    PtgFunc = 0x01,
    PtgFuncVar = 0x02,
    PtgName = 0x03,
    PtgRef = 0x04,
    PtgArea = 0x05,
    PtgMemArea = 0x06,
    PtgMemErr = 0x07,
    PtgMemNoMem = 0x08,
    PtgMemFunc = 0x09,
    PtgRefErr = 0x0A,
    PtgAreaErr = 0x0B,
    PtgRefN = 0x0C,
    PtgAreaN = 0x0D,
    PtgMemAreaN = 0x0E,
    PtgMemNoMemN = 0x0F,
    PtgNameX = 0x19,
    PtgRef3d = 0x1A,
    PtgArea3d = 0x1B,
    PtgRefErr3d = 0x1C,
    PtgAreaErr3d = 0x1D,
};

enum AttrBits : int
{
    AttrSemiVolatile = 0x01,
    AttrIf = 0x02,
    AttrChoose = 0x04,
    AttrGoto = 0x08,
    AttrSum = 0x10,
    AttrBaxcel = 0x20,
    AttrSpace = 0x40,
};

QString errorText(int code);
std::optional<int> errorCode(const QString& text);

// `count` characters of a string stored as Latin-1 bytes or, `wide`, as UTF-16LE units; the
// bytes may start at any address, odd ones included.
QString storedCharacters(const char* bytes, int count, bool wide);

} // namespace corvane::automation::native::biff
