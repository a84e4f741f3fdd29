// Small bridges between Qt and UNO used throughout the LibreOffice backend.
#pragma once

#include <QString>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/uno/Exception.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <rtl/ustring.hxx>

namespace css = ::com::sun::star;

namespace corvane::automation::libreoffice {

inline rtl::OUString toOUString(const QString& s)
{
    return rtl::OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), s.size());
}

inline QString toQString(const rtl::OUString& s)
{
    return QString(reinterpret_cast<const QChar*>(s.getStr()), s.getLength());
}

css::beans::PropertyValue makeProperty(const char* name, const css::uno::Any& value);

// The UNO runtime on Corvane's side of the bridge, started once per process. Null (with the
// reason in `error`) when the LibreOffice libraries or type libraries cannot be used.
css::uno::Reference<css::uno::XComponentContext> localUnoContext(QString* error);

// The exception's message, or its type name when it carries none.
QString describe(const css::uno::Exception& e);

} // namespace corvane::automation::libreoffice
