#include <NodwardenApp/ui/firstrun/LegalWindow.hpp>

#include <NodwardenApp/ui/firstrun/LinkLabel.hpp>

#include <NodwardenApp/model/AppModel.hpp>
#include <NodwardenApp/model/FirstRunTexts.hpp>
#include <NodwardenApp/model/PlatformWording.hpp>
#include <NodwardenApp/ui/firstrun/LegalDocumentWindow.hpp>
#include <NodwardenApp/ui/theme/FirstRunStyle.hpp>
#include <NodwardenApp/ui/theme/Theme.hpp>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

namespace nodwarden::app {

namespace {

constexpr int contentWidth = 520;
constexpr int pointIconSize = 28;

QLabel* makeLabel(const QString& text, const QString& objectName, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(objectName);
    label->setAccessibleName(text);
    return label;
}

QLabel* makeParagraph(const QString& text, const QString& objectName, QWidget* parent) {
    QLabel* label = makeLabel(text, objectName, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

/// One point of the terms: an icon beside a bold title and its paragraph.
QWidget* makePoint(const QString& symbol, const QColor& color, const QString& title,
                   const QString& paragraph, const QString& name, QWidget* parent) {
    auto* point = new QWidget(parent);
    point->setObjectName(name + QStringLiteral("Point"));
    point->setAccessibleName(title);

    auto* icon = new QLabel(point);
    icon->setObjectName(name + QStringLiteral("Icon"));
    icon->setAccessibleName(title);
    icon->setPixmap(FirstRun::symbolPixmap(symbol, pointIconSize, color, parent));
    icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    icon->setFixedWidth(pointIconSize + 8);

    QLabel* heading = makeLabel(title, name + QStringLiteral("Title"), point);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);

    auto* text = new QVBoxLayout;
    text->setSpacing(4);
    text->addWidget(heading);
    text->addWidget(makeParagraph(paragraph, name + QStringLiteral("Paragraph"), point));

    auto* row = new QHBoxLayout(point);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addLayout(text, 1);
    return point;
}

QLabel* makeLink(const FirstRun::LegalLink& link, bool external, QWidget* parent) {
    auto* label = new LinkLabel(link.text, link.address, parent);
    label->setObjectName(link.objectName);
    label->setAccessibleName(link.text);
    label->setAccessibleDescription(link.address);
    label->setOpenExternalLinks(external);
    label->setToolTip(link.address);
    return label;
}

} // namespace

LegalWindow::LegalWindow(AppModel& model, const QString& websiteBase, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint), model_(model),
      shippedLinks_(websiteBase.isEmpty()) {
    const PlatformWording& wording = model_.wording();
    setObjectName(QStringLiteral("legalWindow"));
    setWindowTitle(FirstRun::legalHeading());
    setAccessibleName(FirstRun::legalHeading());
    Theme::applyBrandAccent(*this);

    QLabel* heading = makeLabel(FirstRun::legalHeading(), QStringLiteral("legalHeading"), this);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.6);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignHCenter);

    QLabel* subtitle = makeParagraph(wording.legalSubtitle, QStringLiteral("legalSubtitle"), this);
    subtitle->setAlignment(Qt::AlignHCenter);
    Theme::useSecondaryText(*subtitle);

    auto* links = new QHBoxLayout;
    links->setSpacing(6);
    links->addWidget(makeLabel(FirstRun::acceptIntro(), QStringLiteral("acceptIntro"), this));
    bool first = true;
    for (const FirstRun::LegalLink& link : FirstRun::legalLinks(websiteBase)) {
        if (!first) {
            QLabel* separator =
                makeLabel(QStringLiteral("·"), QStringLiteral("linkSeparator"), this);
            separator->setAccessibleName(QString());
            links->addWidget(separator);
        }
        first = false;
        QLabel* label = makeLink(link, !shippedLinks_, this);
        if (shippedLinks_) {
            connect(label, &QLabel::linkActivated, this,
                    [this, link] { openDocument(link.resource, link.text); });
        }
        links->addWidget(label);
    }
    links->addStretch(1);

    auto* quitButton = new QPushButton(FirstRun::quitLabel(), this);
    quitButton->setObjectName(QStringLiteral("quitButton"));
    quitButton->setAccessibleName(FirstRun::quitLabel());
    quitButton->setAutoDefault(false);
    connect(quitButton, &QPushButton::clicked, &model_, &AppModel::quit);

    agreeButton_ = new QPushButton(FirstRun::agreeLabel(), this);
    agreeButton_->setObjectName(QStringLiteral("agreeButton"));
    agreeButton_->setAccessibleName(FirstRun::agreeLabel());
    agreeButton_->setDefault(true);
    FirstRun::stylePrimaryButton(*agreeButton_);
    connect(agreeButton_, &QPushButton::clicked, this, &LegalWindow::accept);

    // A plain window has no default-button handling, so Return and Enter are bound here and
    // accept wherever the focus is, as the default button of a dialog would.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &LegalWindow::accept);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(quitButton);
    buttons->addWidget(agreeButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(28, 24, 28, 20);
    layout->setSpacing(14);
    layout->addWidget(heading);
    layout->addWidget(subtitle);
    layout->addSpacing(6);
    layout->addWidget(makePoint(QStringLiteral("lock.shield.fill"), Theme::brandAccent(),
                                FirstRun::privacyTitle(), wording.privacyParagraph,
                                QStringLiteral("privacy"), this));
    layout->addWidget(makePoint(QStringLiteral("exclamationmark.triangle.fill"), Theme::orange(),
                                FirstRun::responsibilityTitle(), wording.responsibilityParagraph,
                                QStringLiteral("responsibility"), this));
    layout->addStretch(1);
    layout->addLayout(links);
    layout->addLayout(buttons);

    setFixedWidth(contentWidth);
    resize(contentWidth, 560);
    // Fitted to the content: as tall as the wrapped paragraphs need, no taller.
    setFixedHeight(layout->totalHeightForWidth(contentWidth));
    agreeButton_->setFocus();
}

void LegalWindow::accept() {
    // A second Return before the window has gone must not record the acceptance twice.
    if (!model_.firstRun().needsLegalAcceptance()) {
        return;
    }
    model_.acceptLegal();
}

void LegalWindow::openDocument(const QUrl& resource, const QString& title) {
    if (documentWindow_.isNull()) {
        // A window of its own, not a child: the terms window is fixed in size.
        documentWindow_ = new LegalDocumentWindow(resource, title);
        documentWindow_->setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &QObject::destroyed, documentWindow_.data(), &QObject::deleteLater);
    } else {
        documentWindow_->showDocument(resource, title);
    }
}

void LegalWindow::closeEvent(QCloseEvent* event) {
    // Only the window system's own close (a keyboard shortcut of the desktop) is refused: the
    // program's closes after acceptance and at quit must go through.
    if (event->spontaneous() && model_.firstRun().needsLegalAcceptance()) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
    model_.windowWillClose(AppWindow::legal);
}

} // namespace nodwarden::app
