#include "unoutil.h"

#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include <mutex>

namespace corvane::automation::libreoffice {

css::beans::PropertyValue makeProperty(const char* name, const css::uno::Any& value)
{
    css::beans::PropertyValue p;
    p.Name = rtl::OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

css::uno::Reference<css::uno::XComponentContext> localUnoContext(QString* error)
{
    static std::once_flag once;
    static css::uno::Reference<css::uno::XComponentContext> context;
    static QString failure;
    std::call_once(once, [] {
        try {
            // The installation's fundamentalrc names every type library, so values of types
            // this program has no headers for can still cross the bridge.
            const rtl::OUString program = rtl::OUString::createFromAscii(CORVANE_LIBREOFFICE_PROGRAM_DIR);
            rtl::Bootstrap::set("URE_BOOTSTRAP", "vnd.sun.star.pathname:" + program + "/fundamentalrc");
            context = cppu::defaultBootstrap_InitialComponentContext("file://" + program + "/unorc");
        } catch (const css::uno::Exception& e) {
            failure = QStringLiteral("LibreOffice's UNO runtime could not start: %1").arg(describe(e));
        } catch (const cppu::BootstrapException& e) {
            failure = QStringLiteral("LibreOffice's UNO runtime could not start: %1")
                          .arg(toQString(e.getMessage()));
        }
    });
    if (!context.is() && error)
        *error = failure;
    return context;
}

QString describe(const css::uno::Exception& e)
{
    const QString text = e.Message.isEmpty() ? QStringLiteral("UNO exception") : toQString(e.Message);
    // The bridge goes when the office dies ("Binary URP bridge already disposed"): say so,
    // rather than only what the bridge said.
    if (text.contains(QLatin1String("bridge"), Qt::CaseInsensitive) &&
        text.contains(QLatin1String("disposed"), Qt::CaseInsensitive))
        return QStringLiteral("LibreOffice crashed (%1)").arg(text);
    return text;
}

} // namespace corvane::automation::libreoffice
