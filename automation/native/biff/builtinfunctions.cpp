// The built-in function table: data only, kept apart from the code that reads and writes tokens.
#include "builtinfunctions.h"

#include <string>
#include <vector>

namespace corvane::automation::native::biff {

namespace {

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

} // namespace

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

} // namespace corvane::automation::native::biff
