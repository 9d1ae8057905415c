#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

// The Russian OK is the Cyrillic "ОК".
// clang-format off
constexpr std::array<SupportSiteFormText, kDialogLanguageCount> kRows{{
    {.language = DialogLanguage::English,
     .message = "Warning\n\nPlease go to the official website to download and install the latest Graphic driver to continue.",
     .ok = "OK"},
    {.language = DialogLanguage::SimplifiedChinese,
     .message = "警告\n\n请至官网下载及安装最新版显卡驱动程序以继续。",
     .ok = "确定"},
    {.language = DialogLanguage::TraditionalChinese,
     .message = "警告\n\n請至官網下載及安裝最新版顯示卡驅動程式以繼續。",
     .ok = "確定"},
    {.language = DialogLanguage::Czech,
     .message = "Varování\n\nChcete -li pokračovat, přejděte na oficiální webové stránky, stáhněte a nainstalujte nejnovější ovladač.",
     .ok = "OK"},
    {.language = DialogLanguage::German,
     .message = "Warnung\n\nBitte rufen Sie die offizielle Webseite auf, um den neuesten Treiber herunterzuladen und zu installieren, damit Sie fortfahren können.",
     .ok = "OK"},
    {.language = DialogLanguage::Spanish,
     .message = "Advertencia\n\nVaya a la página web oficial para descargar e instalar la última versión del controlador para continuar.",
     .ok = "Aceptar"},
    {.language = DialogLanguage::Finnish,
     .message = "Varoitus\n\nJatka siirtymällä viralliselle sivustolle ja lataa ja asenna sieltä uusin ajuri.",
     .ok = "OK"},
    {.language = DialogLanguage::French,
     .message = "Avertissement\n\nVeuillez vous rendre sur le site officiel pour télécharger et installer le dernier pilote avant de continuer.",
     .ok = "OK"},
    {.language = DialogLanguage::Italian,
     .message = "Avvertenza\n\nVisitare il sito ufficiale per scaricare e installare l’ultima versione del firmware per continuare.",
     .ok = "OK"},
    {.language = DialogLanguage::Japanese,
     .message = "警告\n\n続行するには、公式ウェブサイトに移動して、最新のドライバーをダウンロードし、更新してください。",
     .ok = "OK"},
    {.language = DialogLanguage::Korean,
     .message = "경고\n\n계속하려면 공식 웹사이트를 방문하여 최신 드라이버를 다운로드 및 설치하십시오.",
     .ok = "확인"},
    {.language = DialogLanguage::Dutch,
     .message = "Waarschuwing\n\nGa naar de officiële website om de nieuwste driver te downloaden en te installeren om door te gaan.",
     .ok = "OK"},
    {.language = DialogLanguage::Norwegian,
     .message = "Advarsel\n\nGå til den offisielle nettsiden for å laste ned og installere den nyeste driveren for å fortsette.",
     .ok = "OK"},
    {.language = DialogLanguage::Portuguese,
     .message = "Aviso\n\nAceda ao website oficial para transferir e instalar o controlador mais recente para continuar.",
     .ok = "OK"},
    {.language = DialogLanguage::Russian,
     .message = "Внимание\n\nДля продолжения перейдите на официальный сайт, скачайте и установите последнюю версию драйвера.",
     .ok = "ОК"},
    {.language = DialogLanguage::Swedish,
     .message = "Varning\n\nFortsätt genom att gå till den officiella webbplatsen för att ladda ner och installera den senaste drivrutinen.",
     .ok = "OK"},
    {.language = DialogLanguage::Turkish,
     .message = "Uyarı\n\nDevam etmek için lütfen resmi web sitesine gidin ve en son sürücüyü indirip yükleyin.",
     .ok = "Tamam"},
}};
// clang-format on

static_assert(inLanguageOrder(kRows));

}  // namespace

const SupportSiteFormText& supportSiteFormText(DialogLanguage language) { return rowFor(kRows, language); }

}  // namespace OvVBiosInstaller::text
