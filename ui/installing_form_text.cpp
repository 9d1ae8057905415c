#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

// The reason is the message's first line.
// clang-format off
constexpr std::array<InstallingFormText, kDialogLanguageCount> kRows{{
    {.language = DialogLanguage::English,
     .message = "Installing the VBIOS...\n\nDon't turn off your PC, unplug the power adapter, disconnect any devices, or adjust any settings during the installation process.",
     .shutdownBlockReason = "Installing the VBIOS..."},
    {.language = DialogLanguage::SimplifiedChinese,
     .message = "正在安装 VBIOS...\n\n安装过程中，请勿关闭电脑、拔掉充电器、断开任何连接的设备或调整任何设定。",
     .shutdownBlockReason = "正在安装 VBIOS..."},
    {.language = DialogLanguage::TraditionalChinese,
     .message = "正在安裝 VBIOS...\n\n安裝過程中，請勿關閉電腦、拔除充電器、斷開任何連接的裝置或調整任何設定。",
     .shutdownBlockReason = "正在安裝 VBIOS..."},
    {.language = DialogLanguage::Czech,
     .message = "Instalace VBIOS ...\n\nBěhem instalace nevypínejte počítač, neodpojujte napájecí adaptér, neodpojujte žádná zařízení ani neupravujte žádná nastavení.",
     .shutdownBlockReason = "Instalace VBIOS ..."},
    {.language = DialogLanguage::German,
     .message = "VBIOS wird installiert...\n\nSchalten Sie Ihren PC nicht aus, ziehen Sie das Netzteil nicht ab, trennen Sie keine Geräte und passen Sie während des Installationsvorgangs keine Einstellungen an.",
     .shutdownBlockReason = "VBIOS wird installiert..."},
    {.language = DialogLanguage::Spanish,
     .message = "Instalando el VBIOS...\n\nNo apague el ordenador, no desenchufe el adaptador de alimentación, no desconecte ningún dispositivo ni cambie ningún ajuste durante la instalación.",
     .shutdownBlockReason = "Instalando el VBIOS..."},
    {.language = DialogLanguage::Finnish,
     .message = "Asennetaan VBIOS...\n\nÄlä sammuta tietokonetta, irrota virtalähdettä, irrota mitään laitteita tai säädä mitään asetuksia asennuksen aikana.",
     .shutdownBlockReason = "Asennetaan VBIOS..."},
    {.language = DialogLanguage::French,
     .message = "Installation du VBIOS en cours...\n\nN'éteignez pas votre PC, ne débranchez pas l'adaptateur secteur, ne débranchez aucun périphérique et n'ajustez aucun paramètre pendant l'installation.",
     .shutdownBlockReason = "Installation du VBIOS en cours..."},
    {.language = DialogLanguage::Italian,
     .message = "Installazione del VBIOS in corso...\n\nNon spegnere il PC, non scollegare l’adattatore di alimentazione, non scollegare alcun dispositivo e non modificare le impostazioni durante la procedura di installazione.",
     .shutdownBlockReason = "Installazione del VBIOS in corso..."},
    {.language = DialogLanguage::Japanese,
     .message = "VBIOS のインストール中...\n\nインストールプロセス中は、PCをオフにしたり、電源アダプターを抜いたり、デバイスを取り外したり、設定を調整したりしないでください。",
     .shutdownBlockReason = "VBIOS のインストール中..."},
    {.language = DialogLanguage::Korean,
     .message = "VBIOS 설치 중...\n\n설치 중에는 PC를 끄거나 전원 어댑터의 플러그를 뽑거나 장치를 분리하거나 설정을 조정하지 마십시오.",
     .shutdownBlockReason = "VBIOS 설치 중..."},
    {.language = DialogLanguage::Dutch,
     .message = "De VBIOS wordt geïnstalleerd...\n\nTijdens de installatie mag de pc niet worden uitgeschakeld, mogen de voedingsadapter en eventuele apparaten niet worden losgekoppeld; ook mogen er geen instellingen worden aangepast.",
     .shutdownBlockReason = "De VBIOS wordt geïnstalleerd..."},
    {.language = DialogLanguage::Norwegian,
     .message = "Installerer VBIOS...\n\nIkke skru av PC - en, koble fra strømadapteren, koble fra enheter eller juster innstillinger mens oppdateringen pågår.",
     .shutdownBlockReason = "Installerer VBIOS..."},
    {.language = DialogLanguage::Portuguese,
     .message = "A instalar o VBIOS...\n\nNão encerre o computador, nem desligue o transformador ou qualquer outro dispositivo, nem ajuste nenhuma definição durante o processo de instalação.",
     .shutdownBlockReason = "A instalar o VBIOS..."},
    {.language = DialogLanguage::Russian,
     .message = "Установка VBIOS...\n\nВ процессе установки не выключайте компьютер, не отключайте блок питания или какие - либо устройства и не изменяйте настройки.",
     .shutdownBlockReason = "Установка VBIOS..."},
    {.language = DialogLanguage::Swedish,
     .message = "Installerar VBIOS ...\n\nStäng inte av datorn, koppla inte bort några enheter eller justera några inställningar under installationen.",
     .shutdownBlockReason = "Installerar VBIOS ..."},
    {.language = DialogLanguage::Turkish,
     .message = "VBIOS yükleniyor...\n\nYükleme işlemi sırasında PC'nizi kapatmayın, güç adaptörünü çıkarmayın, herhangi bir cihazın bağlantısını kesmeyin veya herhangi bir ayar yapmayın.",
     .shutdownBlockReason = "VBIOS yükleniyor..."},
}};
// clang-format on

static_assert(inLanguageOrder(kRows));

}  // namespace

const InstallingFormText& installingFormText(DialogLanguage language) { return rowFor(kRows, language); }

}  // namespace OvVBiosInstaller::text
