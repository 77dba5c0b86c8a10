#pragma once
// The about box: product name, version and picture.
#include <QDialog>

class QLabel;
class QPushButton;

class TFrmAbout : public QDialog {
    Q_OBJECT
public:
    explicit TFrmAbout(QWidget* owner);

    QLabel* LblTitle = nullptr;
    QLabel* ImgLogo = nullptr;
    QPushButton* BtnOk = nullptr;

    void BtnOkClick();
};
