// Command button: a push button whose caption may carry the access-letter
// marker "__" ("__Start" reads "Start" with the S underlined). The access
// key of the first caption that had one stays with the button when it is
// relabelled without a marker ("Démarrer" is still Alt+S), and its tooltip
// shows it, since the caption may no longer underline it.
#pragma once

#include <QKeySequence>
#include <QPushButton>

namespace platform {

class CommandButton : public QPushButton {
    Q_OBJECT
    Q_PROPERTY(QString label READ label WRITE setLabel)

public:
    explicit CommandButton(QWidget *parent = nullptr);

    QString label() const { return label_; }  // the caption as set, marker included
    void setLabel(const QString &label);

    // "__Start" -> "&Start" (Qt's mnemonic); a literal '&' is doubled so it shows.
    static QString mnemonicText(const QString &label);

private:
    QString label_;
    QKeySequence accessKey_;  // from the first caption with a marker
};

} // namespace platform
