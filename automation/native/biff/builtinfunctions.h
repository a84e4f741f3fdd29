// The application's built-in worksheet functions as formula tokens name them, by their index in
// its function table; the decompiler and the compiler both look them up.
#pragma once

#include <QString>

namespace corvane::automation::native::biff {

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

constexpr int kUserDefinedFunction = 255;

const BuiltinFunction* functionByIndex(int index);
const BuiltinFunction* functionByName(const QString& name);
bool isVolatile(const BuiltinFunction& f);
char argumentClass(const BuiltinFunction& f, int argument);

} // namespace corvane::automation::native::biff
