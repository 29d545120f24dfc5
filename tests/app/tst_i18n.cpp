// The translation manager and the two compiled catalogues: what loads, what a window shows
// after each switch, and the one warning for a missing catalogue.
#include "i18nmanager.h"

#include <QQmlComponent>
#include <QQmlEngine>
#include <QRegularExpression>
#include <QTest>
#include <QTranslator>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Every text the window passes through qsTr, by context.
const QList<QPair<const char *, QStringList>> MESSAGES = {
    {"FilePickerDialog",
     {u"A folder with this name already exists"_s, u"Cancel"_s, u"Cannot create folder here"_s,
      u"Cannot open folder: "_s, u"Empty folder"_s, u"Enter a file name"_s, u"File name:"_s,
      u"Invalid folder name"_s, u"New Folder"_s, u"OK"_s, u"Save to: "_s, u"Select a file"_s,
      u"Selected: "_s, u"Up"_s,
      // The window's own additions.
      u"Replace file?"_s, u"%1 already exists. Saving replaces it."_s}},
    {"HeaderBar", {u"Language"_s, u"Theme"_s}},
    {"ImageSummary",
     {u"A run would refuse this file: %1"_s, u"%1 bytes plain  ·  CRC-32 %2  ·  %3 frames"_s,
      u"at least %1 s at %2 baud"_s}},
    {"LogCard", {u"Save Log"_s, u"Progress"_s}},
    {"Main",
     {u"BAUD RATE"_s, u"BOARD IP"_s, u"BOARD PORT"_s, u"Browse"_s, u"Cancel"_s, u"Clear Log"_s,
      u"Detect"_s, u"FIRMWARE IMAGE"_s, u"HOST ADAPTER"_s, u"HOST PORT"_s, u"Last upgrade OK"_s,
      u"Last upgrade failed"_s, u"No warm boot"_s, u"OPTIONS"_s,
      u"PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched"_s,
      u"Ready"_s, u"Refresh"_s, u"SERIAL"_s, u"Select Firmware Image"_s,
      u"Select encrypted image (.qvbit)..."_s, u"Start Upgrade"_s, u"TRANSPORT"_s,
      u"UART Serial (APP1)"_s, u"UDP Network (100M)"_s, u"UPGRADE LOG"_s, u"Upgrading"_s,
      u"Upgrading..."_s, u"Warm boot to APP1"_s, u"Warm boot to APP2"_s,
      // The window's own additions.
      u"Save Log"_s, u"Log saved to %1"_s, u"%1 (not found)"_s}},
    {"Theme",
     {u"Abyss Black"_s, u"Carbon Amber"_s, u"Deep Blue"_s, u"Graphite Gray"_s, u"Light"_s,
      u"Medical"_s, u"Midnight Teal"_s, u"Mist Cyan"_s, u"Slate Copper"_s}},
    {"ThemedDialog", {u"Cancel"_s, u"Close"_s, u"No"_s, u"OK"_s, u"Yes"_s}},
};

QString translated(const char *context, const char *source)
{
    return QCoreApplication::translate(context, source);
}

} // namespace

class TestI18n : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        // Any warning but the ones a test announces is a fault.
        QTest::failOnWarning(QRegularExpression(u".*"_s));
    }

    void catalogues_data()
    {
        QTest::addColumn<QString>("code");
        QTest::newRow("zh_CN") << u"zh_CN"_s;
        QTest::newRow("ja_JP") << u"ja_JP"_s;
    }

    void catalogues()
    {
        QFETCH(QString, code);
        QTranslator translator;
        QVERIFY(translator.load(u":/i18n/quelvane_ota_%1.qm"_s.arg(code)));
        QCOMPARE(translator.language(), code);
        for (const auto &[context, sources] : MESSAGES) {
            for (const QString &source : sources)
                QVERIFY2(!translator.translate(context, source.toUtf8()).isEmpty(),
                         qPrintable(u"%1: %2"_s.arg(QLatin1String(context), source)));
        }
    }

    void tellingRows_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("zh");
        QTest::addColumn<QString>("ja");
        const auto row = [](const char *context, const char *source, const char *zh,
                            const char *ja) {
            QTest::addRow("%s %s", context, source)
                << QString::fromUtf8(context) << QString::fromUtf8(source) << QString::fromUtf8(zh)
                << QString::fromUtf8(ja);
        };
        row("Main",
            "PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched",
            "PGL25G 固件升级 · 写入槽位 APP2 @0x400000 · Golden/APP1 不受影响",
            "PGL25G ファームウェア更新 · スロット APP2 @0x400000 へ書込 · Golden/APP1 は変更なし");
        row("Main", "Select encrypted image (.qvbit)...", "选择加密镜像（.qvbit）...",
            "暗号化イメージ（.qvbit）を選択...");
        row("Main", "UART Serial (APP1)", "串口 UART (APP1)", "UART シリアル (APP1)");
        row("Main", "UDP Network (100M)", "网口 UDP (100M)", "UDP ネットワーク (100M)");
        row("Main", "Start Upgrade", "开始升级", "アップグレード開始");
        row("Main", "Last upgrade failed", "上次升级失败", "前回のアップグレード失敗");
        row("Main", "Warm boot to APP2", "热启动到 APP2", "APP2 へウォームブート");
        row("FilePickerDialog", "Cannot open folder: ", "无法打开文件夹：",
            "フォルダを開けません：");
        row("FilePickerDialog", "OK", "确定", "OK");
        row("Theme", "Abyss Black", "深渊黑", "アビスブラック");
        row("ThemedDialog", "Yes", "是", "はい");
        for (const char *context : {"FilePickerDialog", "Main", "ThemedDialog"})
            row(context, "Cancel", "取消", "キャンセル");
    }

    void tellingRows()
    {
        QFETCH(QString, context);
        QFETCH(QString, source);
        QFETCH(QString, zh);
        QFETCH(QString, ja);
        QQmlEngine engine;
        I18nManager i18n(&engine);
        const QByteArray c = context.toUtf8();
        const QByteArray s = source.toUtf8();
        i18n.setLanguage(u"zh_CN"_s);
        QCOMPARE(translated(c, s), zh);
        i18n.setLanguage(u"ja_JP"_s);
        QCOMPARE(translated(c, s), ja);
        i18n.setLanguage(u"en"_s);
        QCOMPARE(translated(c, s), source);
    }

    void switching()
    {
        QQmlEngine engine;
        auto *i18n = new I18nManager(&engine);
        // The context of qsTr is the file's base name, as in the module.
        QQmlComponent component(&engine);
        component.setData(
            "import QtQml\nQtObject { property string text: qsTr(\"Start Upgrade\") }",
            QUrl(u"file:///tmp/Main.qml"_s));
        const std::unique_ptr<QObject> item(component.create());
        QVERIFY2(item, qPrintable(component.errorString()));
        const auto shown = [&] { return item->property("text").toString(); };

        i18n->setLanguage(u"zh_CN"_s);
        QCOMPARE(shown(), u"开始升级"_s);
        // Installed twice, the translator would survive the one removal that "en" makes.
        i18n->setLanguage(u"zh_CN"_s);
        i18n->setLanguage(u"ja_JP"_s);
        QCOMPARE(shown(), u"アップグレード開始"_s);
        i18n->setLanguage(u"en"_s);
        QCOMPARE(shown(), u"Start Upgrade"_s);
        QCOMPARE(translated("Main", "Start Upgrade"), u"Start Upgrade"_s);

        // A longer code falls back to its catalogue through the file search, without a warning.
        i18n->setLanguage(u"zh_CN.utf8"_s);
        QCOMPARE(shown(), u"开始升级"_s);
        i18n->setLanguage(QString());
        QCOMPARE(shown(), u"Start Upgrade"_s);

        // A missing catalogue warns once, exactly so, and leaves the source texts.
        i18n->setLanguage(u"ja_JP"_s);
        for (const char *code : {"de_DE", "EN"}) {
            QTest::ignoreMessage(
                QtWarningMsg,
                qPrintable(
                    u"i18n: translation missing for \"%1\" -- source strings stay visible"_s.arg(
                        QLatin1String(code))));
            i18n->setLanguage(QLatin1String(code));
            QCOMPARE(shown(), u"Start Upgrade"_s);
        }
        // Deleting the manager takes its translator out of the application.
        i18n->setLanguage(u"zh_CN"_s);
        delete i18n;
        QCOMPARE(translated("Main", "Start Upgrade"), u"Start Upgrade"_s);
    }
};

QTEST_MAIN(TestI18n)
#include "tst_i18n.moc"
