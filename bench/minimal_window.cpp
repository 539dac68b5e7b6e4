// The floor that Qt itself sets: a Widgets window with one label, nothing else.
#include <QApplication>
#include <QLabel>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QLabel label(QStringLiteral("Sormio"));
    label.setWindowTitle(QStringLiteral("Minimal"));
    label.setAlignment(Qt::AlignCenter);
    label.resize(800, 450);
    label.show();
    return QApplication::exec();
}
