#include "app/FrmAbout.h"

#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/Logo.h"
#include "batch/Version.h"

TFrmAbout::TFrmAbout(QWidget* owner) : QDialog(owner) {
    setObjectName("FrmAbout");
    setWindowTitle(tr("About Ardentix"));
    setModal(true);

    ImgLogo = new QLabel(this);
    ImgLogo->setObjectName("ImgLogo");
    ImgLogo->setPixmap(MakeLogo(96, devicePixelRatioF()));
    ImgLogo->setAlignment(Qt::AlignCenter);

    LblTitle = new QLabel(QString::fromStdString("Ardentix " + ProgramVersion()), this);
    LblTitle->setObjectName("LblTitle");
    LblTitle->setAlignment(Qt::AlignCenter);
    QFont f = LblTitle->font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    f.setBold(true);
    LblTitle->setFont(f);

    auto* subtitle = new QLabel(tr("Converts RealMedia and other media files, several at once, to MP3 audio "
                                   "or to MP4, DVD, VCD, SVCD and DV video"),
                                this);
    subtitle->setAlignment(Qt::AlignCenter);
    subtitle->setWordWrap(true);

    BtnOk = new QPushButton(tr("OK"), this);
    BtnOk->setObjectName("BtnOk");
    BtnOk->setDefault(true);
    connect(BtnOk, &QPushButton::clicked, this, [this] { BtnOkClick(); });

    auto* layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(ImgLogo);
    layout->addWidget(LblTitle);
    layout->addWidget(subtitle);
    layout->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(BtnOk);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    // Room for larger fonts, never smaller than the classic box.
    const QSize hint = sizeHint().expandedTo(QSize(280, 233));
    setFixedSize(hint);
}

void TFrmAbout::BtnOkClick() { accept(); }
