// The converter program: one dialog over the recording engine.
#include <QApplication>

#include "converter/ConverterSettings.h"
#include "converter/app/AppIcon.h"
#include "converter/app/EngineSession.h"
#include "converter/app/MainDialog.h"

int main(int argc, char** argv) {
    using namespace orvale::converter;
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zolvane"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    // Where the program would keep settings of its own; it keeps none.
    QApplication::setOrganizationName(
        QStringLiteral("로컬 응용 프로그램 마법사에서 생성된 응용 프로그램"));
    QApplication::setWindowIcon(AppIcon());

    SetUpConverterLogging();
    EngineSession session;
    main_dialog_options_s options;
    options.settings = ReadConverterSettings(ConverterSettingsPath());
    MainDialog dialog(session.Engine(), std::move(options));
    dialog.exec();
    return 0;
}
