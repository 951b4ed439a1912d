#pragma once

#include <QDialog>

class QEvent;
class QFrame;
class QLabel;
class QPushButton;
class QShowEvent;
class TqzMeterCom;

// The About box: program name and version, the distributor's details and web address, and the
// connected instrument's identification. Made once at start-up and shown again on each About.
class TfrmAbout : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmAbout(TqzMeterCom &link, QWidget *parent = nullptr);
    ~TfrmAbout() override;

    QFrame *shpBorder = nullptr;
    QLabel *imgBanner = nullptr;
    QLabel *imgLogo = nullptr;
    QLabel *imgBrannocBanner = nullptr;
    QLabel *imgBrannocLogo = nullptr;
    QLabel *lblAbout = nullptr;
    QLabel *lblSWVer = nullptr;
    QLabel *lblBuild = nullptr;
    QLabel *lblQZT = nullptr;
    QLabel *lblAdr1 = nullptr;
    QLabel *lblAdr2 = nullptr;
    QLabel *lblPhone = nullptr;
    QFrame *Bevel1 = nullptr;
    // The instrument rows: left column rows 1 and 2, right column rows 1 to 3.
    QLabel *lblInstrumentType = nullptr;
    QLabel *lblSerialNumber = nullptr;
    QLabel *lblPackageId = nullptr;
    QLabel *lblMcuVersion = nullptr;
    QLabel *lblFpgaVersion = nullptr;
    QFrame *Bevel2 = nullptr;
    QLabel *lblLink = nullptr;
    QPushButton *btnOK = nullptr;

    // The distributor's details, shown in the box and opened from its link.
    static const QString DistributorName;
    static const QString DistributorAddress1;
    static const QString DistributorAddress2;
    static const QString DistributorPhone;
    static const QString DistributorWebAddress;

public slots:
    void btnOKClick();
    void lblLinkClick();

protected:
    void showEvent(QShowEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void FormShow();
    void followPalette();

    TqzMeterCom &Link;
    bool m_linkVisited = false;
};

// The one About box of the program, made at start-up; cleared when the box is destroyed.
extern TfrmAbout *frmAbout;
