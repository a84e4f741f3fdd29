#include "formulatokens.h"

#include "automation/native/formula/formulatokenizer.h"
#include "automation/native/formula/sheetname.h"

#include <QStringList>
#include <QtEndian>

#include <array>
#include <cmath>
#include <string>
#include <vector>

namespace corvane::automation::native::biff {

namespace {

namespace fx = corvane::automation::native::formula;

// The built-in functions by their index in the application's function table. ret and args are
// token classes: 'V' value, 'R' reference, 'A' array; the last argument class repeats. The
// indexes left out belong to functions of macro sheets; tokens that call them are not read.
struct BuiltinFunction
{
    int index;
    const char* name;
    int minArgs;
    int maxArgs;
    bool variable; // written as ptgFuncVar with an argument count
    char ret;
    const char* args;
};

// clang-format off
constexpr BuiltinFunction kFunctions[] = {
    {0, "COUNT", 0, 30, true, 'V', "R"},
    {1, "IF", 2, 3, true, 'R', "VRR"},
    {2, "ISNA", 1, 1, false, 'V', "V"},
    {3, "ISERROR", 1, 1, false, 'V', "V"},
    {4, "SUM", 0, 30, true, 'V', "R"},
    {5, "AVERAGE", 1, 30, true, 'V', "R"},
    {6, "MIN", 1, 30, true, 'V', "R"},
    {7, "MAX", 1, 30, true, 'V', "R"},
    {8, "ROW", 0, 1, true, 'V', "R"},
    {9, "COLUMN", 0, 1, true, 'V', "R"},
    {10, "NA", 0, 0, false, 'V', ""},
    {11, "NPV", 2, 30, true, 'V', "VR"},
    {12, "STDEV", 1, 30, true, 'V', "R"},
    {13, "DOLLAR", 1, 2, true, 'V', "V"},
    {14, "FIXED", 1, 3, true, 'V', "VVV"},
    {15, "SIN", 1, 1, false, 'V', "V"},
    {16, "COS", 1, 1, false, 'V', "V"},
    {17, "TAN", 1, 1, false, 'V', "V"},
    {18, "ATAN", 1, 1, false, 'V', "V"},
    {19, "PI", 0, 0, false, 'V', ""},
    {20, "SQRT", 1, 1, false, 'V', "V"},
    {21, "EXP", 1, 1, false, 'V', "V"},
    {22, "LN", 1, 1, false, 'V', "V"},
    {23, "LOG10", 1, 1, false, 'V', "V"},
    {24, "ABS", 1, 1, false, 'V', "V"},
    {25, "INT", 1, 1, false, 'V', "V"},
    {26, "SIGN", 1, 1, false, 'V', "V"},
    {27, "ROUND", 2, 2, false, 'V', "VV"},
    {28, "LOOKUP", 2, 3, true, 'V', "VR"},
    {29, "INDEX", 2, 4, true, 'R', "RVVV"},
    {30, "REPT", 2, 2, false, 'V', "VV"},
    {31, "MID", 3, 3, false, 'V', "VVV"},
    {32, "LEN", 1, 1, false, 'V', "V"},
    {33, "VALUE", 1, 1, false, 'V', "V"},
    {34, "TRUE", 0, 0, false, 'V', ""},
    {35, "FALSE", 0, 0, false, 'V', ""},
    {36, "AND", 1, 30, true, 'V', "R"},
    {37, "OR", 1, 30, true, 'V', "R"},
    {38, "NOT", 1, 1, false, 'V', "V"},
    {39, "MOD", 2, 2, false, 'V', "VV"},
    {40, "DCOUNT", 3, 3, false, 'V', "RRR"},
    {41, "DSUM", 3, 3, false, 'V', "RRR"},
    {42, "DAVERAGE", 3, 3, false, 'V', "RRR"},
    {43, "DMIN", 3, 3, false, 'V', "RRR"},
    {44, "DMAX", 3, 3, false, 'V', "RRR"},
    {45, "DSTDEV", 3, 3, false, 'V', "RRR"},
    {46, "VAR", 1, 30, true, 'V', "R"},
    {47, "DVAR", 3, 3, false, 'V', "RRR"},
    {48, "TEXT", 2, 2, false, 'V', "VV"},
    {49, "LINEST", 1, 4, true, 'A', "RRVV"},
    {50, "TREND", 1, 4, true, 'A', "RRRV"},
    {51, "LOGEST", 1, 4, true, 'A', "RRVV"},
    {52, "GROWTH", 1, 4, true, 'A', "RRRV"},
    {56, "PV", 3, 5, true, 'V', "VVVVV"},
    {57, "FV", 3, 5, true, 'V', "VVVVV"},
    {58, "NPER", 3, 5, true, 'V', "VVVVV"},
    {59, "PMT", 3, 5, true, 'V', "VVVVV"},
    {60, "RATE", 3, 6, true, 'V', "VVVVVV"},
    {61, "MIRR", 3, 3, false, 'V', "RVV"},
    {62, "IRR", 1, 2, true, 'V', "RV"},
    {63, "RAND", 0, 0, false, 'V', ""},
    {64, "MATCH", 2, 3, true, 'V', "VRR"},
    {65, "DATE", 3, 3, false, 'V', "VVV"},
    {66, "TIME", 3, 3, false, 'V', "VVV"},
    {67, "DAY", 1, 1, false, 'V', "V"},
    {68, "MONTH", 1, 1, false, 'V', "V"},
    {69, "YEAR", 1, 1, false, 'V', "V"},
    {70, "WEEKDAY", 1, 2, true, 'V', "VV"},
    {71, "HOUR", 1, 1, false, 'V', "V"},
    {72, "MINUTE", 1, 1, false, 'V', "V"},
    {73, "SECOND", 1, 1, false, 'V', "V"},
    {74, "NOW", 0, 0, false, 'V', ""},
    {75, "AREAS", 1, 1, false, 'V', "R"},
    {76, "ROWS", 1, 1, false, 'V', "R"},
    {77, "COLUMNS", 1, 1, false, 'V', "R"},
    {78, "OFFSET", 3, 5, true, 'R', "RVVVV"},
    {82, "SEARCH", 2, 3, true, 'V', "VVV"},
    {83, "TRANSPOSE", 1, 1, false, 'A', "A"},
    {86, "TYPE", 1, 1, false, 'V', "V"},
    {92, "SERIESSUM", 4, 4, false, 'V', "VVVA"},
    {97, "ATAN2", 2, 2, false, 'V', "VV"},
    {98, "ASIN", 1, 1, false, 'V', "V"},
    {99, "ACOS", 1, 1, false, 'V', "V"},
    {100, "CHOOSE", 2, 30, true, 'R', "VR"},
    {101, "HLOOKUP", 3, 4, true, 'V', "VRRV"},
    {102, "VLOOKUP", 3, 4, true, 'V', "VRRV"},
    {105, "ISREF", 1, 1, false, 'V', "R"},
    {109, "LOG", 1, 2, true, 'V', "VV"},
    {111, "CHAR", 1, 1, false, 'V', "V"},
    {112, "LOWER", 1, 1, false, 'V', "V"},
    {113, "UPPER", 1, 1, false, 'V', "V"},
    {114, "PROPER", 1, 1, false, 'V', "V"},
    {115, "LEFT", 1, 2, true, 'V', "VV"},
    {116, "RIGHT", 1, 2, true, 'V', "VV"},
    {117, "EXACT", 2, 2, false, 'V', "VV"},
    {118, "TRIM", 1, 1, false, 'V', "V"},
    {119, "REPLACE", 4, 4, false, 'V', "VVVV"},
    {120, "SUBSTITUTE", 3, 4, true, 'V', "VVVV"},
    {121, "CODE", 1, 1, false, 'V', "V"},
    {124, "FIND", 2, 3, true, 'V', "VVV"},
    {125, "CELL", 1, 2, true, 'V', "VR"},
    {126, "ISERR", 1, 1, false, 'V', "V"},
    {127, "ISTEXT", 1, 1, false, 'V', "V"},
    {128, "ISNUMBER", 1, 1, false, 'V', "V"},
    {129, "ISBLANK", 1, 1, false, 'V', "V"},
    {130, "T", 1, 1, false, 'V', "R"},
    {131, "N", 1, 1, false, 'V', "R"},
    {140, "DATEVALUE", 1, 1, false, 'V', "V"},
    {141, "TIMEVALUE", 1, 1, false, 'V', "V"},
    {142, "SLN", 3, 3, false, 'V', "VVV"},
    {143, "SYD", 4, 4, false, 'V', "VVVV"},
    {144, "DDB", 4, 5, true, 'V', "VVVVV"},
    {148, "INDIRECT", 1, 2, true, 'R', "VV"},
    {162, "CLEAN", 1, 1, false, 'V', "V"},
    {163, "MDETERM", 1, 1, false, 'V', "A"},
    {164, "MINVERSE", 1, 1, false, 'A', "A"},
    {165, "MMULT", 2, 2, false, 'A', "AA"},
    {167, "IPMT", 4, 6, true, 'V', "VVVVVV"},
    {168, "PPMT", 4, 6, true, 'V', "VVVVVV"},
    {169, "COUNTA", 0, 30, true, 'V', "R"},
    {183, "PRODUCT", 0, 30, true, 'V', "R"},
    {184, "FACT", 1, 1, false, 'V', "V"},
    {189, "DPRODUCT", 3, 3, false, 'V', "RRR"},
    {190, "ISNONTEXT", 1, 1, false, 'V', "V"},
    {193, "STDEVP", 1, 30, true, 'V', "R"},
    {194, "VARP", 1, 30, true, 'V', "R"},
    {195, "DSTDEVP", 3, 3, false, 'V', "RRR"},
    {196, "DVARP", 3, 3, false, 'V', "RRR"},
    {197, "TRUNC", 1, 2, true, 'V', "VV"},
    {198, "ISLOGICAL", 1, 1, false, 'V', "V"},
    {199, "DCOUNTA", 3, 3, false, 'V', "RRR"},
    {204, "USDOLLAR", 1, 2, true, 'V', "VV"},
    {205, "FINDB", 2, 3, true, 'V', "VVV"},
    {206, "SEARCHB", 2, 3, true, 'V', "VVV"},
    {207, "REPLACEB", 4, 4, false, 'V', "VVVV"},
    {208, "LEFTB", 1, 2, true, 'V', "VV"},
    {209, "RIGHTB", 1, 2, true, 'V', "VV"},
    {210, "MIDB", 3, 3, false, 'V', "VVV"},
    {211, "LENB", 1, 1, false, 'V', "V"},
    {212, "ROUNDUP", 2, 2, false, 'V', "VV"},
    {213, "ROUNDDOWN", 2, 2, false, 'V', "VV"},
    {214, "ASC", 1, 1, false, 'V', "V"},
    {215, "DBCS", 1, 1, false, 'V', "V"},
    {216, "RANK", 2, 3, true, 'V', "VRV"},
    {219, "ADDRESS", 2, 5, true, 'V', "VVVVV"},
    {220, "DAYS360", 2, 3, true, 'V', "VVV"},
    {221, "TODAY", 0, 0, false, 'V', ""},
    {222, "VDB", 5, 7, true, 'V', "VVVVVVV"},
    {227, "MEDIAN", 1, 30, true, 'V', "R"},
    {228, "SUMPRODUCT", 1, 30, true, 'V', "A"},
    {229, "SINH", 1, 1, false, 'V', "V"},
    {230, "COSH", 1, 1, false, 'V', "V"},
    {231, "TANH", 1, 1, false, 'V', "V"},
    {232, "ASINH", 1, 1, false, 'V', "V"},
    {233, "ACOSH", 1, 1, false, 'V', "V"},
    {234, "ATANH", 1, 1, false, 'V', "V"},
    {235, "DGET", 3, 3, false, 'V', "RRR"},
    {244, "INFO", 1, 1, false, 'V', "V"},
    {247, "DB", 4, 5, true, 'V', "VVVVV"},
    {252, "FREQUENCY", 2, 2, false, 'A', "RR"},
    {261, "ERROR.TYPE", 1, 1, false, 'V', "V"},
    {269, "AVEDEV", 1, 30, true, 'V', "R"},
    {270, "BETADIST", 3, 5, true, 'V', "V"},
    {271, "GAMMALN", 1, 1, false, 'V', "V"},
    {272, "BETAINV", 3, 5, true, 'V', "V"},
    {273, "BINOMDIST", 4, 4, false, 'V', "VVVV"},
    {274, "CHIDIST", 2, 2, false, 'V', "VV"},
    {275, "CHIINV", 2, 2, false, 'V', "VV"},
    {276, "COMBIN", 2, 2, false, 'V', "VV"},
    {277, "CONFIDENCE", 3, 3, false, 'V', "VVV"},
    {278, "CRITBINOM", 3, 3, false, 'V', "VVV"},
    {279, "EVEN", 1, 1, false, 'V', "V"},
    {280, "EXPONDIST", 3, 3, false, 'V', "VVV"},
    {281, "FDIST", 3, 3, false, 'V', "VVV"},
    {282, "FINV", 3, 3, false, 'V', "VVV"},
    {283, "FISHER", 1, 1, false, 'V', "V"},
    {284, "FISHERINV", 1, 1, false, 'V', "V"},
    {285, "FLOOR", 2, 2, false, 'V', "VV"},
    {286, "GAMMADIST", 4, 4, false, 'V', "VVVV"},
    {287, "GAMMAINV", 3, 3, false, 'V', "VVV"},
    {288, "CEILING", 2, 2, false, 'V', "VV"},
    {289, "HYPGEOMDIST", 4, 4, false, 'V', "VVVV"},
    {290, "LOGNORMDIST", 3, 3, false, 'V', "VVV"},
    {291, "LOGINV", 3, 3, false, 'V', "VVV"},
    {292, "NEGBINOMDIST", 3, 3, false, 'V', "VVV"},
    {293, "NORMDIST", 4, 4, false, 'V', "VVVV"},
    {294, "NORMSDIST", 1, 1, false, 'V', "V"},
    {295, "NORMINV", 3, 3, false, 'V', "VVV"},
    {296, "NORMSINV", 1, 1, false, 'V', "V"},
    {297, "STANDARDIZE", 3, 3, false, 'V', "VVV"},
    {298, "ODD", 1, 1, false, 'V', "V"},
    {299, "PERMUT", 2, 2, false, 'V', "VV"},
    {300, "POISSON", 3, 3, false, 'V', "VVV"},
    {301, "TDIST", 3, 3, false, 'V', "VVV"},
    {302, "WEIBULL", 4, 4, false, 'V', "VVVV"},
    {303, "SUMXMY2", 2, 2, false, 'V', "AA"},
    {304, "SUMX2MY2", 2, 2, false, 'V', "AA"},
    {305, "SUMX2PY2", 2, 2, false, 'V', "AA"},
    {306, "CHITEST", 2, 2, false, 'V', "AA"},
    {307, "CORREL", 2, 2, false, 'V', "AA"},
    {308, "COVAR", 2, 2, false, 'V', "AA"},
    {309, "FORECAST", 3, 3, false, 'V', "VAA"},
    {310, "FTEST", 2, 2, false, 'V', "AA"},
    {311, "INTERCEPT", 2, 2, false, 'V', "AA"},
    {312, "PEARSON", 2, 2, false, 'V', "AA"},
    {313, "RSQ", 2, 2, false, 'V', "AA"},
    {314, "STEYX", 2, 2, false, 'V', "AA"},
    {315, "SLOPE", 2, 2, false, 'V', "AA"},
    {316, "TTEST", 4, 4, false, 'V', "AAVV"},
    {317, "PROB", 3, 4, true, 'V', "AAV"},
    {318, "DEVSQ", 1, 30, true, 'V', "R"},
    {319, "GEOMEAN", 1, 30, true, 'V', "R"},
    {320, "HARMEAN", 1, 30, true, 'V', "R"},
    {321, "SUMSQ", 0, 30, true, 'V', "R"},
    {322, "KURT", 1, 30, true, 'V', "R"},
    {323, "SKEW", 1, 30, true, 'V', "R"},
    {324, "ZTEST", 2, 3, true, 'V', "RV"},
    {325, "LARGE", 2, 2, false, 'V', "RV"},
    {326, "SMALL", 2, 2, false, 'V', "RV"},
    {327, "QUARTILE", 2, 2, false, 'V', "RV"},
    {328, "PERCENTILE", 2, 2, false, 'V', "RV"},
    {329, "PERCENTRANK", 2, 3, true, 'V', "RV"},
    {330, "MODE", 1, 30, true, 'V', "A"},
    {331, "TRIMMEAN", 2, 2, false, 'V', "RV"},
    {332, "TINV", 2, 2, false, 'V', "VV"},
    {336, "CONCATENATE", 0, 30, true, 'V', "V"},
    {337, "POWER", 2, 2, false, 'V', "VV"},
    {342, "RADIANS", 1, 1, false, 'V', "V"},
    {343, "DEGREES", 1, 1, false, 'V', "V"},
    {344, "SUBTOTAL", 2, 30, true, 'V', "VR"},
    {345, "SUMIF", 2, 3, true, 'V', "RVR"},
    {346, "COUNTIF", 2, 2, false, 'V', "RV"},
    {347, "COUNTBLANK", 1, 1, false, 'V', "R"},
    {350, "ISPMT", 4, 4, false, 'V', "VVVV"},
    {351, "DATEDIF", 3, 3, false, 'V', "VVV"},
    {352, "DATESTRING", 1, 1, false, 'V', "V"},
    {353, "NUMBERSTRING", 2, 2, false, 'V', "VV"},
    {354, "ROMAN", 1, 2, true, 'V', "VV"},
    {358, "GETPIVOTDATA", 2, 2, false, 'V', "RV"},
    {359, "HYPERLINK", 1, 2, true, 'V', "VV"},
    {360, "PHONETIC", 1, 1, false, 'V', "V"},
    {361, "AVERAGEA", 1, 30, true, 'V', "R"},
    {362, "MAXA", 1, 30, true, 'V', "R"},
    {363, "MINA", 1, 30, true, 'V', "R"},
    {364, "STDEVPA", 1, 30, true, 'V', "R"},
    {365, "VARPA", 1, 30, true, 'V', "R"},
    {366, "STDEVA", 1, 30, true, 'V', "R"},
    {367, "VARA", 1, 30, true, 'V', "R"},
    {368, "BAHTTEXT", 1, 1, false, 'V', "V"},
    {369, "THAIDAYOFWEEK", 1, 1, false, 'V', "V"},
    {370, "THAIDIGIT", 1, 1, false, 'V', "V"},
    {371, "THAIMONTHOFYEAR", 1, 1, false, 'V', "V"},
    {372, "THAINUMSOUND", 1, 1, false, 'V', "V"},
    {373, "THAINUMSTRING", 1, 1, false, 'V', "V"},
    {374, "THAISTRINGLENGTH", 1, 1, false, 'V', "V"},
    {375, "ISTHAIDIGIT", 1, 1, false, 'V', "V"},
    {376, "ROUNDBAHTDOWN", 1, 1, false, 'V', "V"},
    {377, "ROUNDBAHTUP", 1, 1, false, 'V', "V"},
    {378, "THAIYEAR", 1, 1, false, 'V', "V"},
    {379, "RTD", 2, 5, true, 'V', "V"},
};
// clang-format on

constexpr int kUserDefinedFunction = 255;
// A FORMULA record holds at most 8224 bytes, 22 of them before the tokens, and cannot continue.
constexpr int kMaxTokenBytes = 8224 - 22;
constexpr int kMaxNesting = 100;
constexpr int kMaxRow = 65535;
constexpr int kMaxColumn = 255;

const BuiltinFunction* functionByIndex(int index)
{
    static const std::vector<const BuiltinFunction*> table = [] {
        std::vector<const BuiltinFunction*> t(512, nullptr);
        for (const BuiltinFunction& f : kFunctions)
            t[static_cast<std::size_t>(f.index)] = &f;
        return t;
    }();
    return index >= 0 && index < static_cast<int>(table.size()) ? table[static_cast<std::size_t>(index)]
                                                                : nullptr;
}

const BuiltinFunction* functionByName(const QString& name)
{
    for (const BuiltinFunction& f : kFunctions) {
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0)
            return &f;
    }
    return nullptr;
}

bool isVolatile(const BuiltinFunction& f)
{
    // NOW, RAND, TODAY, OFFSET, INDIRECT, CELL, INFO: recalculated on every change, which the
    // application marks with a leading tAttrVolatile.
    switch (f.index) {
    case 74:
    case 63:
    case 221:
    case 78:
    case 148:
    case 125:
    case 244:
        return true;
    default:
        return false;
    }
}

char argumentClass(const BuiltinFunction& f, int argument)
{
    const int known = static_cast<int>(std::char_traits<char>::length(f.args));
    if (known == 0)
        return 'V';
    return f.args[argument < known ? argument : known - 1];
}

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

// Operator precedence, loosest first; an operand binds tightest.
enum Precedence : int
{
    PrecCompare = 1,
    PrecConcat,
    PrecAdd,
    PrecMul,
    PrecPower,
    PrecPercent,
    PrecUnary,
    PrecUnion,
    PrecIsect,
    PrecRange,
    PrecOperand,
};

struct ErrorCode
{
    int code;
    const char* text;
};
constexpr ErrorCode kErrorCodes[] = {
    {0x00, "#NULL!"}, {0x07, "#DIV/0!"}, {0x0F, "#VALUE!"}, {0x17, "#REF!"},
    {0x1D, "#NAME?"}, {0x24, "#NUM!"},   {0x2A, "#N/A"},
};

QString errorText(int code)
{
    for (const ErrorCode& e : kErrorCodes) {
        if (e.code == code)
            return QLatin1String(e.text);
    }
    return {};
}

std::optional<int> errorCode(const QString& text)
{
    for (const ErrorCode& e : kErrorCodes) {
        if (text.compare(QLatin1String(e.text), Qt::CaseInsensitive) == 0)
            return e.code;
    }
    return std::nullopt;
}

// A number as the formula bar shows it: up to 15 significant digits, exponent form with an
// upper-case E and a signed exponent of at least two digits.
QString numberText(double value)
{
    if (value == 0)
        return QStringLiteral("0");
    QString text = QString::number(value, 'g', 15);
    const int e = text.indexOf(QLatin1Char('e'));
    if (e < 0)
        return text;
    QString mantissa = text.left(e);
    QString exponent = text.mid(e + 1);
    const QChar sign = exponent.at(0) == QLatin1Char('-') ? QLatin1Char('-') : QLatin1Char('+');
    if (exponent.at(0) == QLatin1Char('-') || exponent.at(0) == QLatin1Char('+'))
        exponent.remove(0, 1);
    while (exponent.size() > 2 && exponent.at(0) == QLatin1Char('0'))
        exponent.remove(0, 1);
    if (exponent.size() < 2)
        exponent.prepend(QLatin1Char('0'));
    return mantissa + QLatin1Char('E') + sign + exponent;
}

QString quotedString(const QString& s)
{
    QString out = s;
    out.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + out + QLatin1Char('"');
}

QString columnLetters(int column)
{
    QString letters;
    for (int c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QLatin1Char(static_cast<char>('A' + (c - 1) % 26)));
    return letters;
}

QString cellText(int row, int column, bool rowRelative, bool columnRelative)
{
    return (columnRelative ? QString() : QStringLiteral("$")) + columnLetters(column) +
           (rowRelative ? QString() : QStringLiteral("$")) + QString::number(row + 1);
}

QString areaText(int row1, int row2, int col1, int col2, bool row1Rel, bool row2Rel, bool col1Rel,
                 bool col2Rel)
{
    auto dollar = [](bool relative) { return relative ? QString() : QStringLiteral("$"); };
    if (row1 == 0 && row2 == kMaxRow && !(col1 == 0 && col2 == kMaxColumn))
        return dollar(col1Rel) + columnLetters(col1) + QLatin1Char(':') + dollar(col2Rel) +
               columnLetters(col2);
    if (col1 == 0 && col2 == kMaxColumn && !(row1 == 0 && row2 == kMaxRow))
        return dollar(row1Rel) + QString::number(row1 + 1) + QLatin1Char(':') + dollar(row2Rel) +
               QString::number(row2 + 1);
    return cellText(row1, col1, row1Rel, col1Rel) + QLatin1Char(':') + cellText(row2, col2, row2Rel, col2Rel);
}

class Decompiler
{
public:
    Decompiler(const QByteArray& data, int tokenSize, const FormulaContext& context)
        : m_data(data), m_end(tokenSize), m_extra(tokenSize), m_context(context)
    {
    }

    QString run(QString* error);

private:
    struct Item
    {
        QString text;
        int precedence = PrecOperand;
    };

    bool fail(const QString& why)
    {
        if (m_error.isEmpty())
            m_error = why;
        return false;
    }
    bool need(int bytes) { return m_pos + bytes <= m_end ? true : fail(QStringLiteral("tokens cut short")); }
    int u8(int at) const { return static_cast<unsigned char>(m_data.at(at)); }
    int u16(int at) const { return u8(at) | (u8(at + 1) << 8); }
    bool pop(Item& item)
    {
        if (m_stack.empty())
            return fail(QStringLiteral("operator without operand"));
        item = std::move(m_stack.back());
        m_stack.pop_back();
        return true;
    }
    QString takeSpaces(QString& slot)
    {
        QString s;
        s.swap(slot);
        return s;
    }

    bool token();
    bool binary(const char* symbol, int precedence);
    bool function(const QString& name, int argumentCount, bool userDefined);
    bool reference(int kind);
    bool arrayConstant();
    std::optional<QString> sheetPrefix(int ixti);
    void push(QString text, int precedence = PrecOperand)
    {
        m_stack.push_back({takeSpaces(m_before) + text, precedence});
    }

    const QByteArray& m_data;
    int m_pos = 0;
    int m_end;
    int m_extra;
    const FormulaContext& m_context;
    std::vector<Item> m_stack;
    QString m_error;
    // Whitespace recorded by tAttrSpace for the next token: in front of it, in front of an
    // opening parenthesis, in front of a closing one.
    QString m_before;
    QString m_beforeOpen;
    QString m_beforeClose;
};

QString Decompiler::run(QString* error)
{
    if (m_end < 0 || m_end > m_data.size())
        m_end = m_extra = m_data.size();
    while (m_pos < m_end) {
        if (!token())
            break;
    }
    if (m_error.isEmpty() && m_stack.size() != 1)
        fail(m_stack.empty() ? QStringLiteral("no expression") : QStringLiteral("operands left over"));
    if (!m_error.isEmpty()) {
        if (error)
            *error = m_error;
        return {};
    }
    if (error)
        error->clear();
    return m_stack.back().text;
}

bool Decompiler::binary(const char* symbol, int precedence)
{
    Item right;
    Item left;
    if (!pop(right) || !pop(left))
        return false;
    QString text = left.precedence < precedence ? QLatin1Char('(') + left.text + QLatin1Char(')') : left.text;
    text += takeSpaces(m_before) + QLatin1String(symbol);
    text += right.precedence <= precedence && right.precedence != PrecOperand
                ? QLatin1Char('(') + right.text + QLatin1Char(')')
                : right.text;
    m_stack.push_back({text, precedence});
    return true;
}

bool Decompiler::function(const QString& name, int argumentCount, bool userDefined)
{
    if (static_cast<int>(m_stack.size()) < argumentCount)
        return fail(QStringLiteral("function without its arguments"));
    QStringList arguments;
    for (auto it = m_stack.end() - argumentCount; it != m_stack.end(); ++it)
        arguments << (it->precedence == PrecUnion ? QLatin1Char('(') + it->text + QLatin1Char(')')
                                                  : it->text);
    m_stack.resize(m_stack.size() - static_cast<std::size_t>(argumentCount));
    QString shown = name;
    if (userDefined) {
        // The name came first, as an operand.
        if (arguments.isEmpty())
            return fail(QStringLiteral("user-defined function without its name"));
        shown = arguments.takeFirst();
        if (shown.startsWith(QLatin1String("_xlfn."), Qt::CaseInsensitive))
            shown.remove(0, 6);
    }
    const QString close = takeSpaces(m_beforeClose);
    push(shown + QLatin1Char('(') + arguments.join(QLatin1Char(',')) + close + QLatin1Char(')'));
    return true;
}

std::optional<QString> Decompiler::sheetPrefix(int ixti)
{
    const std::optional<ExternSheet> sheet = m_context.externSheet(ixti);
    if (!sheet) {
        fail(QStringLiteral("unknown EXTERNSHEET index %1").arg(ixti));
        return std::nullopt;
    }
    if (sheet->deleted)
        return QStringLiteral("#REF!");
    QString inner = sheet->firstSheet;
    if (!sheet->lastSheet.isEmpty() && sheet->lastSheet.compare(sheet->firstSheet, Qt::CaseInsensitive) != 0)
        inner += QLatin1Char(':') + sheet->lastSheet;
    const bool quote =
        fx::sheetNameNeedsQuotes(sheet->firstSheet) ||
        (inner.size() > sheet->firstSheet.size() && fx::sheetNameNeedsQuotes(sheet->lastSheet));
    if (!sheet->book.isEmpty()) {
        inner = QLatin1Char('[') + sheet->book + QLatin1Char(']') + inner;
        if (sheet->firstSheet.isEmpty())
            return inner + QLatin1Char('!');
    }
    if (quote || !sheet->book.isEmpty())
        return QLatin1Char('\'') + inner.replace(QLatin1Char('\''), QStringLiteral("''")) +
               QStringLiteral("'!");
    return inner + QLatin1Char('!');
}

bool Decompiler::reference(int kind)
{
    const bool threeD = kind == PtgRef3d || kind == PtgArea3d || kind == PtgRefErr3d || kind == PtgAreaErr3d;
    const bool area = kind == PtgArea || kind == PtgAreaN || kind == PtgArea3d || kind == PtgAreaErr ||
                      kind == PtgAreaErr3d;
    const bool lost = kind == PtgRefErr || kind == PtgAreaErr || kind == PtgRefErr3d || kind == PtgAreaErr3d;
    const bool offsets = kind == PtgRefN || kind == PtgAreaN || (threeD && m_context.relativeThreeD());
    const int size = (threeD ? 2 : 0) + (area ? 8 : 4);
    if (!need(1 + size))
        return false;
    int at = m_pos + 1;
    QString prefix;
    if (threeD) {
        const std::optional<QString> p = sheetPrefix(u16(at));
        if (!p)
            return false;
        prefix = *p;
        at += 2;
    }
    m_pos += 1 + size;
    if (lost) {
        push(prefix + QStringLiteral("#REF!"));
        return true;
    }
    auto rowOf = [&](int rw, bool relative) {
        return relative && offsets ? (m_context.row() + static_cast<qint16>(rw)) & 0xFFFF : rw;
    };
    auto columnOf = [&](int col, bool relative) {
        return relative && offsets ? (m_context.column() + static_cast<qint8>(col & 0xFF)) & 0xFF
                                   : col & 0x3FFF;
    };
    if (!area) {
        const int rw = u16(at);
        const int col = u16(at + 2);
        const bool rowRel = col & 0x8000;
        const bool colRel = col & 0x4000;
        const int row = rowOf(rw, rowRel);
        const int column = columnOf(col, colRel);
        if (column > kMaxColumn)
            return fail(QStringLiteral("column out of range"));
        push(prefix + cellText(row, column, rowRel, colRel));
        return true;
    }
    const int col1 = u16(at + 4);
    const int col2 = u16(at + 6);
    const bool row1Rel = col1 & 0x8000;
    const bool col1Rel = col1 & 0x4000;
    const bool row2Rel = col2 & 0x8000;
    const bool col2Rel = col2 & 0x4000;
    const int r1 = rowOf(u16(at), row1Rel);
    const int r2 = rowOf(u16(at + 2), row2Rel);
    const int c1 = columnOf(col1, col1Rel);
    const int c2 = columnOf(col2, col2Rel);
    if (c1 > kMaxColumn || c2 > kMaxColumn)
        return fail(QStringLiteral("column out of range"));
    push(prefix + areaText(r1, r2, c1, c2, row1Rel, row2Rel, col1Rel, col2Rel));
    return true;
}

bool Decompiler::arrayConstant()
{
    const int size = m_data.size();
    int at = m_extra;
    if (at + 3 > size)
        return fail(QStringLiteral("array constant without its data"));
    const int columns = u8(at) + 1;
    const int rows = u16(at + 1) + 1;
    at += 3;
    QStringList rowTexts;
    for (int r = 0; r < rows; ++r) {
        QStringList values;
        for (int c = 0; c < columns; ++c) {
            if (at >= size)
                return fail(QStringLiteral("array constant cut short"));
            const int type = u8(at);
            ++at;
            if (type == 0x02) {
                if (at + 3 > size)
                    return fail(QStringLiteral("array constant cut short"));
                const int cch = u16(at);
                const bool wide = u8(at + 2) & 1;
                at += 3;
                const int bytes = wide ? 2 * cch : cch;
                if (at + bytes > size)
                    return fail(QStringLiteral("array constant cut short"));
                const QString s =
                    wide ? QString::fromUtf16(reinterpret_cast<const char16_t*>(m_data.constData() + at), cch)
                         : QString::fromLatin1(m_data.constData() + at, cch);
                at += bytes;
                values << quotedString(s);
                continue;
            }
            if (at + 8 > size)
                return fail(QStringLiteral("array constant cut short"));
            switch (type) {
            case 0x00:
                values << QString();
                break;
            case 0x01:
                values << numberText(qFromLittleEndian<double>(m_data.constData() + at));
                break;
            case 0x04:
                values << (u8(at) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
                break;
            case 0x10: {
                const QString e = errorText(u8(at));
                if (e.isEmpty())
                    return fail(QStringLiteral("unknown error code"));
                values << e;
                break;
            }
            default:
                return fail(QStringLiteral("unknown array constant type"));
            }
            at += 8;
        }
        rowTexts << values.join(QLatin1Char(','));
    }
    m_extra = at;
    push(QLatin1Char('{') + rowTexts.join(QLatin1Char(';')) + QLatin1Char('}'));
    return true;
}

bool Decompiler::token()
{
    const int ptg = u8(m_pos);
    if (ptg >= 0x20 && ptg < 0x80) {
        const int kind = ptg & 0x1F;
        switch (kind) {
        case PtgArray:
            if (!need(8))
                return false;
            m_pos += 8;
            return arrayConstant();
        case PtgFunc: {
            if (!need(3))
                return false;
            const BuiltinFunction* f = functionByIndex(u16(m_pos + 1));
            if (!f)
                return fail(QStringLiteral("unknown function index %1").arg(u16(m_pos + 1)));
            m_pos += 3;
            return function(QLatin1String(f->name), f->minArgs, false);
        }
        case PtgFuncVar: {
            if (!need(4))
                return false;
            const int count = u8(m_pos + 1) & 0x7F;
            const int index = u16(m_pos + 2) & 0x7FFF;
            m_pos += 4;
            if (index == kUserDefinedFunction)
                return function(QString(), count, true);
            const BuiltinFunction* f = functionByIndex(index);
            if (!f)
                return fail(QStringLiteral("unknown function index %1").arg(index));
            return function(QLatin1String(f->name), count, false);
        }
        case PtgName: {
            if (!need(5))
                return false;
            const std::optional<QString> name = m_context.definedName(u16(m_pos + 1));
            if (!name)
                return fail(QStringLiteral("unknown name index %1").arg(u16(m_pos + 1)));
            m_pos += 5;
            push(*name);
            return true;
        }
        case PtgNameX: {
            if (!need(7))
                return false;
            std::optional<QString> name = m_context.externName(u16(m_pos + 1), u16(m_pos + 3));
            if (!name)
                return fail(QStringLiteral("unknown external name %1").arg(u16(m_pos + 3)));
            if (name->startsWith(QLatin1String("_xlfn."), Qt::CaseInsensitive))
                name->remove(0, 6);
            m_pos += 7;
            push(*name);
            return true;
        }
        case PtgRef:
        case PtgArea:
        case PtgRefErr:
        case PtgAreaErr:
        case PtgRefN:
        case PtgAreaN:
        case PtgRef3d:
        case PtgArea3d:
        case PtgRefErr3d:
        case PtgAreaErr3d:
            return reference(kind);
        case PtgMemArea: {
            // The subexpression after it computes the same reference; only the cached
            // rectangles in the trailing data need skipping.
            if (!need(7))
                return false;
            m_pos += 7;
            if (m_extra + 2 > m_data.size())
                return fail(QStringLiteral("ptgMemArea without its data"));
            const int count = u16(m_extra);
            if (m_extra + 2 + 8 * count > m_data.size())
                return fail(QStringLiteral("ptgMemArea data cut short"));
            m_extra += 2 + 8 * count;
            return true;
        }
        case PtgMemErr:
        case PtgMemNoMem:
            if (!need(7))
                return false;
            m_pos += 7;
            return true;
        case PtgMemFunc:
        case PtgMemAreaN:
        case PtgMemNoMemN:
            if (!need(3))
                return false;
            m_pos += 3;
            return true;
        default:
            return fail(QStringLiteral("unknown token 0x%1").arg(ptg, 2, 16, QLatin1Char('0')));
        }
    }

    switch (ptg) {
    case PtgExp:
        return fail(QStringLiteral("shared or array formula"));
    case PtgTbl:
        return fail(QStringLiteral("data table"));
    case PtgAdd:
        ++m_pos;
        return binary("+", PrecAdd);
    case PtgSub:
        ++m_pos;
        return binary("-", PrecAdd);
    case PtgMul:
        ++m_pos;
        return binary("*", PrecMul);
    case PtgDiv:
        ++m_pos;
        return binary("/", PrecMul);
    case PtgPower:
        ++m_pos;
        return binary("^", PrecPower);
    case PtgConcat:
        ++m_pos;
        return binary("&", PrecConcat);
    case PtgLt:
        ++m_pos;
        return binary("<", PrecCompare);
    case PtgLe:
        ++m_pos;
        return binary("<=", PrecCompare);
    case PtgEq:
        ++m_pos;
        return binary("=", PrecCompare);
    case PtgGe:
        ++m_pos;
        return binary(">=", PrecCompare);
    case PtgGt:
        ++m_pos;
        return binary(">", PrecCompare);
    case PtgNe:
        ++m_pos;
        return binary("<>", PrecCompare);
    case PtgIsect:
        ++m_pos;
        return binary(" ", PrecIsect);
    case PtgUnion:
        ++m_pos;
        return binary(",", PrecUnion);
    case PtgRange:
        ++m_pos;
        return binary(":", PrecRange);
    case PtgUplus:
    case PtgUminus: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString operand =
            x.precedence < PrecUnary ? QLatin1Char('(') + x.text + QLatin1Char(')') : x.text;
        push((ptg == PtgUplus ? QStringLiteral("+") : QStringLiteral("-")) + operand, PrecUnary);
        return true;
    }
    case PtgPercent: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString operand =
            x.precedence < PrecPercent ? QLatin1Char('(') + x.text + QLatin1Char(')') : x.text;
        m_stack.push_back({operand + takeSpaces(m_before) + QLatin1Char('%'), PrecPercent});
        return true;
    }
    case PtgParen: {
        ++m_pos;
        Item x;
        if (!pop(x))
            return false;
        const QString open = takeSpaces(m_beforeOpen);
        push(open + QLatin1Char('(') + x.text + takeSpaces(m_beforeClose) + QLatin1Char(')'));
        return true;
    }
    case PtgMissArg:
        ++m_pos;
        push(QString());
        return true;
    case PtgStr: {
        if (!need(3))
            return false;
        const int cch = u8(m_pos + 1);
        const bool wide = u8(m_pos + 2) & 1;
        const int bytes = wide ? 2 * cch : cch;
        if (!need(3 + bytes))
            return false;
        const char* chars = m_data.constData() + m_pos + 3;
        const QString s = wide ? QString::fromUtf16(reinterpret_cast<const char16_t*>(chars), cch)
                               : QString::fromLatin1(chars, cch);
        m_pos += 3 + bytes;
        push(quotedString(s));
        return true;
    }
    case PtgAttr: {
        if (!need(4))
            return false;
        const int bits = u8(m_pos + 1);
        const int data = u16(m_pos + 2);
        int size = 4;
        if (bits & AttrChoose)
            size += 2 * (data + 1);
        if (!need(size))
            return false;
        m_pos += size;
        if (bits & AttrSum)
            return function(QStringLiteral("SUM"), 1, false);
        if (bits & AttrSpace) {
            const int type = data & 0xFF;
            const QString run(data >> 8, type % 2 ? QLatin1Char('\n') : QLatin1Char(' '));
            if (type <= 1)
                m_before += run;
            else if (type <= 3)
                m_beforeOpen += run;
            else if (type <= 5)
                m_beforeClose += run;
        }
        return true;
    }
    case PtgErr: {
        if (!need(2))
            return false;
        const QString e = errorText(u8(m_pos + 1));
        if (e.isEmpty())
            return fail(QStringLiteral("unknown error code"));
        m_pos += 2;
        push(e);
        return true;
    }
    case PtgBool:
        if (!need(2))
            return false;
        push(u8(m_pos + 1) ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
        m_pos += 2;
        return true;
    case PtgInt:
        if (!need(3))
            return false;
        push(QString::number(u16(m_pos + 1)));
        m_pos += 3;
        return true;
    case PtgNum:
        if (!need(9))
            return false;
        push(numberText(qFromLittleEndian<double>(m_data.constData() + m_pos + 1)));
        m_pos += 9;
        return true;
    default:
        return fail(QStringLiteral("unknown token 0x%1").arg(ptg, 2, 16, QLatin1Char('0')));
    }
}

// ---- Compiling ----

struct Lexeme
{
    enum Kind
    {
        Operand, // a tokenizer token other than Other
        Symbol,  // one operator or punctuation character (or <=, >=, <>)
        End,
    };
    Kind kind = End;
    fx::Token token;
    QString text;   // the symbol, or the operand's text
    QString spaces; // whitespace in front of it, line breaks as '\n'
};

struct Node
{
    enum Kind
    {
        Number,
        String,
        Bool,
        Error,
        Reference,
        Name,
        Function,
        Unary, // op: '+' or '-'
        Percent,
        Binary, // ptg
        Paren,
        Missing,
        Array, // children: the values row by row; ptg: the number of columns
    };
    Kind kind = Missing;
    QString text;
    QString spaces;      // in front of the token
    QString closeSpaces; // in front of the closing parenthesis
    int ptg = 0;
    const BuiltinFunction* function = nullptr;   // null for a function called through a name
    std::optional<std::pair<int, int>> external; // ptgNameX of an add-in function
    fx::Reference reference;
    std::vector<Node> children;
};

class Compiler
{
public:
    Compiler(const QString& text, const FormulaContext& context) : m_context(context)
    {
        QString t = text;
        m_validText = t.isValidUtf16();
        if (t.startsWith(QLatin1Char('=')))
            t.remove(0, 1);
        m_utf8 = t.toUtf8().toStdString();
    }

    // tokenSize receives the size of the tokens without their trailing data; without it, array
    // constants (which need trailing data) are refused.
    std::optional<QByteArray> run(QString* reason, int* tokenSize);

private:
    bool refuse(const QString& why)
    {
        if (m_reason.isEmpty())
            m_reason = why;
        return false;
    }
    bool unsupported(const QString& what)
    {
        return refuse(QStringLiteral("not supported in .xls formulas: ") + what);
    }
    bool lex();
    const Lexeme& peek() const { return m_lexemes[m_next]; }
    bool peekSymbol(const char* s) const
    {
        return peek().kind == Lexeme::Symbol && peek().text == QLatin1String(s);
    }
    Lexeme take() { return m_lexemes[m_next++]; }

    bool parseComparison(Node& out);
    bool parseConcat(Node& out);
    bool parseAdditive(Node& out);
    bool parseMultiplicative(Node& out);
    bool parsePower(Node& out);
    bool parsePercent(Node& out);
    bool parseUnary(Node& out);
    bool parseIntersection(Node& out);
    bool parseRange(Node& out);
    bool parsePrimary(Node& out);
    bool parseOperand(const Lexeme& lexeme, Node& out);
    bool parseArray(Node& out);
    bool parseFunction(const Lexeme& lexeme, Node& out);
    using Level = bool (Compiler::*)(Node&);
    bool parseBinary(Node& out, Level next, std::initializer_list<std::pair<const char*, int>> operators);

    bool write(const Node& node, char expected);
    bool writeReference(const Node& node, char cls);
    bool writeUserDefined(const Node& node, char expected);
    void writeSpaces(const QString& spaces, int spaceType);
    void put8(int v) { m_out.append(static_cast<char>(v & 0xFF)); }
    void put16(int v)
    {
        put8(v);
        put8(v >> 8);
    }
    void patch16(int at, int v)
    {
        m_out[at] = static_cast<char>(v & 0xFF);
        m_out[at + 1] = static_cast<char>((v >> 8) & 0xFF);
    }
    QString textOf(const fx::Token& t) const
    {
        return QString::fromUtf8(m_utf8.data() + t.begin, static_cast<int>(t.end - t.begin));
    }
    QString viewText(std::string_view v) const
    {
        return QString::fromUtf8(v.data(), static_cast<int>(v.size()));
    }

    const FormulaContext& m_context;
    std::string m_utf8;
    std::vector<Lexeme> m_lexemes;
    std::size_t m_next = 0;
    QByteArray m_out;
    QString m_reason;
    QByteArray m_extra; // trailing data: the values of array constants
    bool m_arraysAllowed = false;
    bool m_validText = true;
    bool m_volatile = false;
    int m_depth = 0;
};

bool Compiler::lex()
{
    fx::Tokenizer tokenizer(m_utf8);
    fx::Token token;
    QString spaces;
    while (tokenizer.next(token)) {
        if (token.kind != fx::TokenKind::Other) {
            Lexeme l;
            l.kind = Lexeme::Operand;
            l.token = token;
            l.text = textOf(token);
            l.spaces.swap(spaces);
            m_lexemes.push_back(std::move(l));
            continue;
        }
        const std::string_view run(m_utf8.data() + token.begin, token.end - token.begin);
        for (std::size_t i = 0; i < run.size(); ++i) {
            const char c = run[i];
            if (c == ' ' || c == '\n') {
                spaces += QLatin1Char(c);
                continue;
            }
            if (c == '\r') {
                // A line break typed on Windows; the tokens keep one line break either way.
                if (i + 1 >= run.size() || run[i + 1] != '\n')
                    spaces += QLatin1Char('\n');
                continue;
            }
            QString symbol = QString(QLatin1Char(c));
            const char d = i + 1 < run.size() ? run[i + 1] : '\0';
            if ((c == '<' && (d == '=' || d == '>')) || (c == '>' && d == '=')) {
                symbol += QLatin1Char(d);
                ++i;
            }
            static const QString known = QStringLiteral("+-*/^&=<>%(),:;{}");
            if (!known.contains(QLatin1Char(c)))
                return refuse(QStringLiteral("unexpected character \"%1\"").arg(QLatin1Char(c)));
            Lexeme l;
            l.kind = Lexeme::Symbol;
            l.text = symbol;
            l.spaces.swap(spaces);
            m_lexemes.push_back(std::move(l));
        }
    }
    m_lexemes.push_back(Lexeme{});
    return true;
}

bool Compiler::parseBinary(Node& out, Level next,
                           std::initializer_list<std::pair<const char*, int>> operators)
{
    if (!(this->*next)(out))
        return false;
    for (;;) {
        int ptg = 0;
        for (const auto& [symbol, code] : operators) {
            if (peekSymbol(symbol))
                ptg = code;
        }
        if (!ptg)
            return true;
        const Lexeme op = take();
        Node right;
        if (!(this->*next)(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = ptg;
        n.spaces = op.spaces;
        n.children.push_back(std::move(out));
        n.children.push_back(std::move(right));
        out = std::move(n);
    }
}

bool Compiler::parseComparison(Node& out)
{
    return parseBinary(
        out, &Compiler::parseConcat,
        {{"=", PtgEq}, {"<>", PtgNe}, {"<", PtgLt}, {"<=", PtgLe}, {">", PtgGt}, {">=", PtgGe}});
}

bool Compiler::parseConcat(Node& out)
{
    return parseBinary(out, &Compiler::parseAdditive, {{"&", PtgConcat}});
}

bool Compiler::parseAdditive(Node& out)
{
    return parseBinary(out, &Compiler::parseMultiplicative, {{"+", PtgAdd}, {"-", PtgSub}});
}

bool Compiler::parseMultiplicative(Node& out)
{
    return parseBinary(out, &Compiler::parsePower, {{"*", PtgMul}, {"/", PtgDiv}});
}

bool Compiler::parsePower(Node& out)
{
    return parseBinary(out, &Compiler::parsePercent, {{"^", PtgPower}});
}

bool Compiler::parsePercent(Node& out)
{
    if (!parseUnary(out))
        return false;
    while (peekSymbol("%")) {
        Node n;
        n.kind = Node::Percent;
        n.spaces = take().spaces;
        n.children.push_back(std::move(out));
        out = std::move(n);
    }
    return true;
}

bool Compiler::parseUnary(Node& out)
{
    // Every nesting, by parentheses, arguments or signs, passes here; the bound keeps hostile
    // text from exhausting the stack.
    struct Depth
    {
        int& depth;
        explicit Depth(int& d) : depth(++d) {}
        ~Depth() { --depth; }
    } depth(m_depth);
    if (m_depth > kMaxNesting)
        return refuse(QStringLiteral("formula nested too deeply"));
    if (peekSymbol("-") || peekSymbol("+")) {
        const Lexeme op = take();
        Node n;
        n.kind = Node::Unary;
        n.ptg = op.text == QLatin1String("-") ? PtgUminus : PtgUplus;
        n.spaces = op.spaces;
        n.children.emplace_back();
        if (!parseUnary(n.children.back()))
            return false;
        out = std::move(n);
        return true;
    }
    return parseIntersection(out);
}

bool Compiler::parseIntersection(Node& out)
{
    if (!parseRange(out))
        return false;
    // A space where an operator is due, before something that can be a reference, intersects.
    for (;;) {
        Lexeme& next = m_lexemes[m_next];
        const bool operand = next.kind == Lexeme::Operand && (next.token.kind == fx::TokenKind::Reference ||
                                                              next.token.kind == fx::TokenKind::Name ||
                                                              next.token.kind == fx::TokenKind::Function);
        const int space = next.spaces.indexOf(QLatin1Char(' '));
        if (space < 0 || !(operand || peekSymbol("(")))
            return true;
        // The operator is one space; line breaks and further spaces stay as spacing.
        next.spaces.remove(space, 1);
        Node right;
        if (!parseRange(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = PtgIsect;
        n.children.push_back(std::move(out));
        n.children.push_back(std::move(right));
        out = std::move(n);
    }
}

bool Compiler::parseRange(Node& out)
{
    return parseBinary(out, &Compiler::parsePrimary, {{":", PtgRange}});
}

bool Compiler::parsePrimary(Node& out)
{
    const Lexeme lexeme = take();
    if (lexeme.kind == Lexeme::End)
        return refuse(QStringLiteral("formula ends too early"));
    if (lexeme.kind == Lexeme::Operand) {
        if (lexeme.token.kind == fx::TokenKind::Function)
            return parseFunction(lexeme, out);
        return parseOperand(lexeme, out);
    }
    if (lexeme.text == QLatin1String("{"))
        return parseArray(out);
    if (lexeme.text != QLatin1String("("))
        return refuse(QStringLiteral("unexpected \"%1\"").arg(lexeme.text));
    // Inside parentheses a comma joins references into a union.
    Node inner;
    if (!parseComparison(inner))
        return false;
    while (peekSymbol(",")) {
        const Lexeme op = take();
        Node right;
        if (!parseComparison(right))
            return false;
        Node n;
        n.kind = Node::Binary;
        n.ptg = PtgUnion;
        n.spaces = op.spaces;
        n.children.push_back(std::move(inner));
        n.children.push_back(std::move(right));
        inner = std::move(n);
    }
    if (!peekSymbol(")"))
        return refuse(QStringLiteral("missing \")\""));
    out = Node{};
    out.kind = Node::Paren;
    out.spaces = lexeme.spaces;
    out.closeSpaces = take().spaces;
    out.children.push_back(std::move(inner));
    return true;
}

bool Compiler::parseArray(Node& out)
{
    if (!m_arraysAllowed)
        return unsupported(QStringLiteral("array constants"));
    out = Node{};
    out.kind = Node::Array;
    int columns = 0;
    int inRow = 0;
    for (;;) {
        Lexeme value = take();
        bool negative = false;
        if (value.kind == Lexeme::Symbol &&
            (value.text == QLatin1String("-") || value.text == QLatin1String("+"))) {
            negative = value.text == QLatin1String("-");
            value = take();
            if (value.kind != Lexeme::Operand || value.token.kind != fx::TokenKind::Number)
                return refuse(
                    QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        }
        if (value.kind != Lexeme::Operand)
            return refuse(QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        Node item;
        if (!parseOperand(value, item))
            return false;
        if (item.kind != Node::Number && item.kind != Node::String && item.kind != Node::Bool &&
            item.kind != Node::Error)
            return refuse(QStringLiteral("array constants hold only numbers, texts, booleans and errors"));
        if (negative)
            item.text.prepend(QLatin1Char('-'));
        out.children.push_back(std::move(item));
        ++inRow;
        const Lexeme separator = take();
        if (separator.text == QLatin1String(",") && separator.kind == Lexeme::Symbol)
            continue;
        if (separator.kind != Lexeme::Symbol ||
            (separator.text != QLatin1String(";") && separator.text != QLatin1String("}")))
            return refuse(QStringLiteral("missing \"}\""));
        if (columns && inRow != columns)
            return refuse(QStringLiteral("array constant rows of different lengths"));
        columns = inRow;
        inRow = 0;
        if (separator.text == QLatin1String("}"))
            break;
    }
    const int rows = static_cast<int>(out.children.size()) / columns;
    if (columns > kMaxColumn + 1 || rows > kMaxRow + 1)
        return unsupported(QStringLiteral("array constant too large"));
    out.ptg = columns;
    return true;
}

bool Compiler::parseFunction(const Lexeme& lexeme, Node& out)
{
    out = Node{};
    out.kind = Node::Function;
    out.spaces = lexeme.spaces;
    out.text = lexeme.text;
    out.function = functionByName(lexeme.text);
    if (out.function && out.function->index == kUserDefinedFunction)
        out.function = nullptr;
    // A function the workbook already calls as an add-in (SERIESSUM of the Analysis ToolPak) is
    // written as the workbook writes it: other readers do not know its index in the table.
    if (out.function && m_context.externNameIndex(lexeme.text))
        out.function = nullptr;
    if (!out.function) {
        // Functions the table lacks live in the workbook as names or add-in names.
        if (const auto name = m_context.nameIndex(QStringLiteral("_xlfn.") + lexeme.text, QString()))
            out.ptg = *name;
        else if (const auto plain = m_context.nameIndex(lexeme.text, QString()))
            out.ptg = *plain;
        else if (const auto external = m_context.externNameIndex(lexeme.text))
            out.external = external;
        else
            return unsupported(QStringLiteral("function ") + lexeme.text);
    }
    if (!peekSymbol("("))
        return refuse(QStringLiteral("missing \"(\" after ") + lexeme.text);
    take();
    if (!peekSymbol(")")) {
        for (;;) {
            out.children.emplace_back();
            if (peekSymbol(",") || peekSymbol(")")) {
                out.children.back().kind = Node::Missing;
            } else if (!parseComparison(out.children.back())) {
                return false;
            }
            if (!peekSymbol(","))
                break;
            take();
        }
    }
    if (!peekSymbol(")"))
        return refuse(QStringLiteral("missing \")\" after the arguments of ") + lexeme.text);
    out.closeSpaces = take().spaces;
    const int count = static_cast<int>(out.children.size());
    if (!out.function)
        return count < 30 ? true : refuse(QStringLiteral("wrong number of arguments for ") + lexeme.text);
    if (count < out.function->minArgs || count > out.function->maxArgs)
        return refuse(QStringLiteral("wrong number of arguments for ") + lexeme.text);
    if (isVolatile(*out.function))
        m_volatile = true;
    return true;
}

bool Compiler::parseOperand(const Lexeme& lexeme, Node& out)
{
    out = Node{};
    out.spaces = lexeme.spaces;
    out.text = lexeme.text;
    switch (lexeme.token.kind) {
    case fx::TokenKind::Number: {
        bool ok = false;
        const double v = lexeme.text.toDouble(&ok);
        if (!ok || !std::isfinite(v))
            return refuse(QStringLiteral("number out of range: ") + lexeme.text);
        out.kind = Node::Number;
        return true;
    }
    case fx::TokenKind::String: {
        // The tokenizer runs an unclosed text to the end; "ab"" is such a text.
        bool closed = false;
        for (int i = 1; i < lexeme.text.size(); ++i) {
            if (lexeme.text.at(i) != QLatin1Char('"'))
                continue;
            if (i + 1 < lexeme.text.size() && lexeme.text.at(i + 1) == QLatin1Char('"'))
                ++i;
            else
                closed = i == lexeme.text.size() - 1;
        }
        if (!closed)
            return refuse(QStringLiteral("text without its closing quote"));
        out.kind = Node::String;
        out.text =
            lexeme.text.mid(1, lexeme.text.size() - 2).replace(QStringLiteral("\"\""), QStringLiteral("\""));
        if (out.text.size() > 255)
            return unsupported(QStringLiteral("text longer than 255 characters"));
        return true;
    }
    case fx::TokenKind::Error:
        if (!errorCode(lexeme.text))
            return unsupported(lexeme.text);
        out.kind = Node::Error;
        return true;
    case fx::TokenKind::Name:
        if (lexeme.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
            lexeme.text.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
            out.kind = Node::Bool;
            return true;
        }
        out.kind = Node::Name;
        return true;
    case fx::TokenKind::Reference: {
        const fx::Reference& r = lexeme.token.reference;
        if (r.external)
            return unsupported(QStringLiteral("references to other workbooks"));
        if (r.sheetLost && !m_context.deletedSheetIndex())
            return unsupported(QStringLiteral("references to deleted sheets"));
        if (r.shape == fx::ReferenceShape::Name)
            return unsupported(QStringLiteral("sheet-qualified names"));
        out.kind = Node::Reference;
        out.reference = r;
        return true;
    }
    case fx::TokenKind::StructuredReference:
        return unsupported(QStringLiteral("table references"));
    default:
        return refuse(QStringLiteral("unexpected \"%1\"").arg(lexeme.text));
    }
}

int classed(int kind, char cls)
{
    return kind | (cls == 'R' ? 0x20 : cls == 'A' ? 0x60 : 0x40);
}

void Compiler::writeSpaces(const QString& spaces, int spaceType)
{
    // Runs of spaces and of line breaks, each as its own tAttrSpace, at most 255 per token.
    int i = 0;
    while (i < spaces.size()) {
        const QChar c = spaces.at(i);
        int n = 0;
        while (i < spaces.size() && spaces.at(i) == c && n < 255) {
            ++n;
            ++i;
        }
        put8(PtgAttr);
        put8(AttrSpace);
        put8(spaceType + (c == QLatin1Char('\n') ? 1 : 0));
        put8(n);
    }
}

bool Compiler::writeReference(const Node& node, char cls)
{
    const fx::Reference& r = node.reference;
    int ixti = -1;
    if (r.sheetLost) {
        ixti = *m_context.deletedSheetIndex();
    } else if (r.hasSheet()) {
        auto plain = [&](std::string_view written) {
            QString name = viewText(written);
            if (r.quoted)
                name.replace(QStringLiteral("''"), QStringLiteral("'"));
            return name;
        };
        const QString first = plain(r.sheet);
        const QString last = r.isThreeD() ? plain(r.lastSheet) : first;
        const std::optional<int> index = m_context.externSheetIndex(first, last);
        if (!index)
            return refuse(QStringLiteral("no such sheet: ") +
                          (r.isThreeD() ? first + QLatin1Char(':') + last : first));
        ixti = *index;
    }
    const bool threeD = ixti >= 0;
    if (r.shape == fx::ReferenceShape::Lost) {
        put8(classed(PtgRefErr3d, cls));
        put16(ixti);
        put16(0);
        put16(0);
        return true;
    }
    auto inSheet = [](const fx::ReferenceEnd& e) {
        return e.row <= kMaxRow + 1 && e.column <= kMaxColumn + 1;
    };
    if (!inSheet(r.first) || !inSheet(r.last))
        return unsupported(QStringLiteral("reference beyond row 65536 or column IV: ") + node.text);
    auto columnWord = [](int column, bool columnAbsolute, bool rowAbsolute) {
        return column | (columnAbsolute ? 0 : 0x4000) | (rowAbsolute ? 0 : 0x8000);
    };
    if (r.shape == fx::ReferenceShape::Cell) {
        put8(classed(threeD ? PtgRef3d : PtgRef, cls));
        if (threeD)
            put16(ixti);
        put16(r.first.row - 1);
        put16(columnWord(r.first.column - 1, r.first.columnAbsolute, r.first.rowAbsolute));
        return true;
    }
    fx::ReferenceEnd a = r.first;
    fx::ReferenceEnd b = r.last;
    if (r.shape == fx::ReferenceShape::Columns) {
        a.row = 1;
        b.row = kMaxRow + 1;
    } else if (r.shape == fx::ReferenceShape::Rows) {
        a.column = 1;
        b.column = kMaxColumn + 1;
    }
    put8(classed(threeD ? PtgArea3d : PtgArea, cls));
    if (threeD)
        put16(ixti);
    put16(a.row - 1);
    put16(b.row - 1);
    put16(columnWord(a.column - 1, a.columnAbsolute, a.rowAbsolute));
    put16(columnWord(b.column - 1, b.columnAbsolute, b.rowAbsolute));
    return true;
}

bool Compiler::write(const Node& node, char expected)
{
    // Operators work on values (arrays inside an array argument); only the reference
    // operators keep references.
    const char operand = expected == 'A' ? 'A' : 'V';
    switch (node.kind) {
    case Node::Number: {
        writeSpaces(node.spaces, 0);
        const double v = node.text.toDouble();
        if (v >= 0 && v <= 65535 && v == std::floor(v)) {
            put8(PtgInt);
            put16(static_cast<int>(v));
        } else {
            put8(PtgNum);
            char bytes[8];
            qToLittleEndian(v, bytes);
            m_out.append(bytes, 8);
        }
        return true;
    }
    case Node::String: {
        writeSpaces(node.spaces, 0);
        bool narrow = true;
        for (const QChar c : node.text)
            narrow = narrow && c.unicode() <= 0xFF;
        put8(PtgStr);
        put8(node.text.size());
        put8(narrow ? 0 : 1);
        for (const QChar c : node.text) {
            if (narrow)
                put8(c.unicode());
            else
                put16(c.unicode());
        }
        return true;
    }
    case Node::Bool:
        writeSpaces(node.spaces, 0);
        put8(PtgBool);
        put8(node.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ? 1 : 0);
        return true;
    case Node::Error:
        writeSpaces(node.spaces, 0);
        put8(PtgErr);
        put8(*errorCode(node.text));
        return true;
    case Node::Missing:
        writeSpaces(node.spaces, 0);
        put8(PtgMissArg);
        return true;
    case Node::Array: {
        writeSpaces(node.spaces, 0);
        // The application writes array constants in the array class wherever they stand.
        put8(classed(PtgArray, 'A'));
        m_out.append(7, '\0');
        const int columns = node.ptg;
        m_extra.append(static_cast<char>(columns - 1));
        const int rows = static_cast<int>(node.children.size()) / columns;
        m_extra.append(static_cast<char>((rows - 1) & 0xFF));
        m_extra.append(static_cast<char>(((rows - 1) >> 8) & 0xFF));
        for (const Node& item : node.children) {
            char value[8] = {};
            switch (item.kind) {
            case Node::Number:
                m_extra.append('\x01');
                qToLittleEndian(item.text.toDouble(), value);
                break;
            case Node::String: {
                bool narrow = true;
                for (const QChar c : item.text)
                    narrow = narrow && c.unicode() <= 0xFF;
                m_extra.append('\x02');
                m_extra.append(static_cast<char>(item.text.size() & 0xFF));
                m_extra.append(static_cast<char>((item.text.size() >> 8) & 0xFF));
                m_extra.append(narrow ? '\x00' : '\x01');
                for (const QChar c : item.text) {
                    m_extra.append(static_cast<char>(c.unicode() & 0xFF));
                    if (!narrow)
                        m_extra.append(static_cast<char>(c.unicode() >> 8));
                }
                continue;
            }
            case Node::Bool:
                m_extra.append('\x04');
                value[0] = item.text.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ? 1 : 0;
                break;
            default:
                m_extra.append('\x10');
                value[0] = static_cast<char>(*errorCode(item.text));
                break;
            }
            m_extra.append(value, 8);
        }
        return true;
    }
    case Node::Name: {
        const std::optional<int> index = m_context.nameIndex(node.text, QString());
        if (!index)
            return refuse(QStringLiteral("unknown name: ") + node.text);
        writeSpaces(node.spaces, 0);
        put8(classed(PtgName, expected));
        put16(*index);
        put16(0);
        return true;
    }
    case Node::Reference: {
        const int start = m_out.size();
        writeSpaces(node.spaces, 0);
        if (!writeReference(node, expected)) {
            m_out.truncate(start);
            return false;
        }
        return true;
    }
    case Node::Unary:
        if (!write(node.children.front(), operand))
            return false;
        writeSpaces(node.spaces, 0);
        put8(node.ptg);
        return true;
    case Node::Percent:
        if (!write(node.children.front(), operand))
            return false;
        writeSpaces(node.spaces, 0);
        put8(PtgPercent);
        return true;
    case Node::Binary: {
        const bool referenceOperator = node.ptg == PtgRange || node.ptg == PtgUnion || node.ptg == PtgIsect;
        if (referenceOperator) {
            for (const Node& side : node.children) {
                const bool reference =
                    side.kind == Node::Reference || side.kind == Node::Name || side.kind == Node::Function ||
                    side.kind == Node::Paren ||
                    (side.kind == Node::Binary &&
                     (side.ptg == PtgRange || side.ptg == PtgUnion || side.ptg == PtgIsect));
                if (!reference)
                    return refuse(QStringLiteral("a range needs references on both sides"));
            }
        }
        const char cls = referenceOperator ? 'R' : operand;
        if (!write(node.children[0], cls) || !write(node.children[1], cls))
            return false;
        writeSpaces(node.spaces, 0);
        put8(node.ptg);
        return true;
    }
    case Node::Paren:
        if (!write(node.children.front(), expected))
            return false;
        writeSpaces(node.spaces, 2);
        writeSpaces(node.closeSpaces, 4);
        put8(PtgParen);
        return true;
    case Node::Function:
        break;
    }

    if (!node.function)
        return writeUserDefined(node, expected);
    const BuiltinFunction& f = *node.function;
    const int count = static_cast<int>(node.children.size());
    // Only a function that returns a reference keeps the reference class; below an array
    // argument everything is computed as an array.
    const char cls = expected == 'A' ? 'A' : (f.ret == 'R' && expected == 'R') ? 'R' : 'V';
    auto argumentExpected = [&](int i) {
        const char c = argumentClass(f, i);
        return expected == 'A' && c == 'V' ? 'A' : c;
    };
    // IF and CHOOSE carry jumps past the branches not taken.
    const bool jumps = f.index == 1 || f.index == 100;
    std::vector<int> gotos;
    int jumpAt = -1;
    for (int i = 0; i < count; ++i) {
        // CHOOSE's table holds each choice's start, counted from the table's first byte.
        if (f.index == 100 && i > 0)
            patch16(jumpAt + 4 + 2 * (i - 1), m_out.size() - (jumpAt + 4));
        if (!write(node.children[static_cast<std::size_t>(i)], argumentExpected(i)))
            return false;
        if (jumps && i == 0) {
            jumpAt = m_out.size();
            put8(PtgAttr);
            if (f.index == 1) {
                put8(AttrIf);
                put16(0);
            } else {
                put8(AttrChoose);
                put16(count - 1);
                for (int k = 0; k < count; ++k)
                    put16(0);
            }
        } else if (jumps) {
            // The call's own spaces go before the last jump, which lands on the call itself.
            if (i == count - 1) {
                writeSpaces(node.spaces, 0);
                writeSpaces(node.closeSpaces, 4);
            }
            gotos.push_back(m_out.size());
            put8(PtgAttr);
            put8(AttrGoto);
            put16(0);
            // IF jumps to its false branch, right after the true branch's goto.
            if (f.index == 1 && i == 1)
                patch16(jumpAt + 2, m_out.size() - (jumpAt + 4));
        }
    }
    if (f.index == 100 && jumpAt >= 0)
        patch16(jumpAt + 4 + 2 * (count - 1), m_out.size() - (jumpAt + 4));
    if (!jumps || count < 2) {
        writeSpaces(node.spaces, 0);
        writeSpaces(node.closeSpaces, 4);
    }
    if (f.index == 4 && count == 1) {
        put8(PtgAttr);
        put8(AttrSum);
        put16(0);
    } else if (f.variable) {
        put8(classed(PtgFuncVar, cls));
        put8(count);
        put16(f.index);
    } else {
        put8(classed(PtgFunc, cls));
        put16(f.index);
    }
    // Each jump lands on the last byte of the function token.
    for (const int at : gotos)
        patch16(at + 2, m_out.size() - (at + 4) - 1);
    return true;
}

bool Compiler::writeUserDefined(const Node& node, char expected)
{
    // The function's name comes first, as the call's first operand.
    if (node.external) {
        put8(0x39);
        put16(node.external->first);
        put16(node.external->second);
        put16(0);
    } else {
        put8(classed(PtgName, 'R'));
        put16(node.ptg);
        put16(0);
    }
    for (const Node& argument : node.children) {
        if (!write(argument, 'R'))
            return false;
    }
    writeSpaces(node.spaces, 0);
    writeSpaces(node.closeSpaces, 4);
    put8(classed(PtgFuncVar, expected == 'A' ? 'A' : 'V'));
    put8(static_cast<int>(node.children.size()) + 1);
    put16(kUserDefinedFunction);
    return true;
}

std::optional<QByteArray> Compiler::run(QString* reason, int* tokenSize)
{
    m_arraysAllowed = tokenSize != nullptr;
    Node root;
    // Unpaired surrogates would not survive the way through UTF-8.
    bool ok = m_validText ? lex() : refuse(QStringLiteral("text with broken characters"));
    if (ok && peek().kind == Lexeme::End)
        ok = refuse(QStringLiteral("empty formula"));
    ok = ok && parseComparison(root);
    if (ok && peek().kind != Lexeme::End)
        ok = refuse(QStringLiteral("unexpected \"%1\"").arg(peek().text));
    ok = ok && write(root, 'V');
    if (!ok) {
        if (reason)
            *reason = m_reason;
        return std::nullopt;
    }
    if (m_volatile)
        m_out.prepend(QByteArray("\x19\x01\x00\x00", 4));
    if (tokenSize)
        *tokenSize = m_out.size();
    m_out += m_extra;
    if (m_out.size() > kMaxTokenBytes) {
        if (reason)
            *reason = QStringLiteral("not supported in .xls formulas: formula too long");
        return std::nullopt;
    }
    if (reason)
        reason->clear();
    return m_out;
}

} // namespace

std::optional<FormulaAnchor> formulaAnchor(const QByteArray& rgce)
{
    if (rgce.size() < 5 || static_cast<unsigned char>(rgce.at(0)) != PtgExp)
        return std::nullopt;
    const auto* d = reinterpret_cast<const unsigned char*>(rgce.constData());
    return FormulaAnchor{d[1] | (d[2] << 8), d[3] | (d[4] << 8)};
}

QString decompileFormula(const QByteArray& rgce, const FormulaContext& context, QString* error, int tokenSize)
{
    return Decompiler(rgce, tokenSize, context).run(error);
}

std::optional<QByteArray> compileFormula(const QString& text, const FormulaContext& context, QString* reason,
                                         int* tokenSize)
{
    return Compiler(text, context).run(reason, tokenSize);
}

} // namespace corvane::automation::native::biff
