#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

// Before the version: a capital V, a small v in Japanese, only a blank in Dutch.
// clang-format off
constexpr std::array<BiosCheckFormText, kDialogLanguageCount> kRows{{
    {.language = DialogLanguage::English,
     .firstPiece = "\n\nBIOS version V",
     .secondPiece = " or higher is required for the VBIOS update.\nPlease update the BIOS from \"Windows Update\", \"Software Update\" of Tessel, or download the \"BIOS Update\" package from Orvo support site directly.",
     .ok = "OK"},
    {.language = DialogLanguage::SimplifiedChinese,
     .firstPiece = "\n\nVBIOS 更新需要 BIOS V",
     .secondPiece = " 以上的版本。\n请至 Tessel 的“Windows Update”、“软件更新”更新 BIOS，或直接从Orvo支持网站下载“BIOS Update”安装包。",
     .ok = "确定"},
    {.language = DialogLanguage::TraditionalChinese,
     .firstPiece = "\n\nVBIOS 更新需要 BIOS V",
     .secondPiece = " 以上的版本。\n請至 Tessel 的「Windows Update」、「軟體更新」更新 BIOS，或直接從Orvo支援網站下載「BIOS Update」安裝包。",
     .ok = "確定"},
    {.language = DialogLanguage::Czech,
     .firstPiece = "\n\nPro aktualizaci VBIOS je vyžadován systém BIOS verze V",
     .secondPiece = " nebo vyšší.\nZaktualizujte systém BIOS v části \"Windows Update\" (Aktualizace Windows), \"Software Update\" (Aktualizace softwaru) nástroje Tessel nebo si stáhněte balíček \"BIOS Update\" (Aktualizace BIOS) přímo z webu podpory společnosti Orvo.",
     .ok = "OK"},
    {.language = DialogLanguage::German,
     .firstPiece = "\n\nFür die VBIOS-Aktualisierung ist BIOS-Version V",
     .secondPiece = " oder höher erforderlich.\nBitte aktualisieren Sie das BIOS unter \"Windows Update\" im \"Software Update\" von Tessel, oder laden Sie das \"BIOS Update\"-Paket direkt von der Orvo-Support-Seite herunter.",
     .ok = "OK"},
    {.language = DialogLanguage::Spanish,
     .firstPiece = "\n\nSe requiere la versión V",
     .secondPiece = ", o superior, del BIOS para la actualización de VBIOS.\nActualice el BIOS desde \"Windows Update\", \"Software Update\" (Actualización de software) en Tessel, o descargue el paquete \"BIOS Update\" (Actualización del BIOS) directamente desde el sitio de soporte de Orvo.",
     .ok = "Aceptar"},
    {.language = DialogLanguage::Finnish,
     .firstPiece = "\n\nBIOS versio V",
     .secondPiece = " tai uudempi vaaditaan VBIOS-päivitykseen.\nPäivitä BIOS kohdista \"Windows-päivitys\", \"Ohjelmistopäivitys\" Tessel-sovelluksessa tai lataa  \"BIOS-päivitys\"-paketti suoraan Orvo-tukisivustolta. ",
     .ok = "OK"},
    {.language = DialogLanguage::French,
     .firstPiece = "\n\nLe BIOS en version V",
     .secondPiece = " ou supérieure est requis pour la mise à jour du VBIOS.\nVeuillez mettre à jour le BIOS depuis \"Windows Update\", la section \"Mise à jour logicielle\" dans Tessel, ou en téléchargeant directement le fichier de mise à jour du BIOS sur le site d'assistance Orvo.",
     .ok = "OK"},
    {.language = DialogLanguage::Italian,
     .firstPiece = "\n\nPer l’aggiornamento VBIOS, è richiesta la versione BIOS V",
     .secondPiece = " o successiva.\nAggiornare il BIOS da \"Windows Update\", \"Aggiornamento software\" di Tessel o scaricare il pacchetto \"Aggiornamento BIOS\" direttamente dal sito di supporto Orvo.",
     .ok = "OK"},
    {.language = DialogLanguage::Japanese,
     .firstPiece = "\n\nVBIOS の更新には、BIOS バージョン v",
     .secondPiece = " またはそれ以降が必要です。\n｢Windows Update｣や Tessel の｢ソフトウェアの更新｣から BIOS を更新するか、Orvo の公式サポートサイトから BIOS 更新用のパッケージをダウンロードしてください。",
     .ok = "OK"},
    {.language = DialogLanguage::Korean,
     .firstPiece = "\n\nVBIOS 업데이트를 하려면 BIOS 버전 V",
     .secondPiece = " 이상이 필요합니다.\nTessel의 \"Windows Update\", \"Software Update\"에서 BIOS를 업데이트하거나 Orvo 지원 사이트에서 \"BIOS Update\" 패키지를 직접 다운로드하십시오.",
     .ok = "확인"},
    {.language = DialogLanguage::Dutch,
     .firstPiece = "\n\nBIOS-versie ",
     .secondPiece = " of hoger is vereist voor de VBIOS-update.\nVoer een update uit van de BIOS vanaf \"Windows Update\", \"Software-update\" in Tessel of download het pakket \"BIOS-update\" direct van de Orvo-ondersteuningssite.",
     .ok = "OK"},
    {.language = DialogLanguage::Norwegian,
     .firstPiece = "\n\nBIOS-versjon V",
     .secondPiece = " eller nyere kreves for denne VBIOS-oppdateringen.\nOppdater BIOS - en fra «Windows Update», «Programvareoppdatering» i Tessel, eller last ned en «BIOS Update» - pakke direkte fra støttesiden til Orvo.",
     .ok = "OK"},
    {.language = DialogLanguage::Portuguese,
     .firstPiece = "\n\nA atualização do VBIOS requer o BIOS versão V",
     .secondPiece = " ou superior.\nAtualize o BIOS a partir do \"Windows Update\", \"Software Update\" no Tessel ou transfira o pacote \"BIOS Update\" diretamente a partir do website de suporte da Orvo.",
     .ok = "OK"},
    {.language = DialogLanguage::Russian,
     .firstPiece = "\n\nДля обновления VBIOS необходима версия BIOS V",
     .secondPiece = " или более новая.\nОбновите BIOS с помощью службы \"Обновление Windows\", опции \"Обновление программного обеспечения\" в Tessel или скачайте пакет \"BIOS Update\" непосредственно с сайта Orvo.",
     .ok = "ОК"},
    {.language = DialogLanguage::Swedish,
     .firstPiece = "\n\nUppdateringen av VBIOS kräver BIOS-version V",
     .secondPiece = " eller högre.\nUppdatera BIOS från \"Windows Update\", \"Software Update\" (Programuppdatering), i Tessel eller hämta paketet \"BIOS Update\" (BIOS-uppdatering) direkt från Orvo supportwebbplats.",
     .ok = "OK"},
    {.language = DialogLanguage::Turkish,
     .firstPiece = "\n\nVBIOS güncellemesi için BIOS sürümü V",
     .secondPiece = " veya üzeri gerekmektedir.\nLütfen BIOS'u Tessel'taki \"Windows Update\" (Windows Güncelle), \"Software Update\" (Yazılım Güncelle) ile güncelleyin veya \"BIOS Update\" (BIOS Güncelle) paketini doğrudan Orvo destek sitesinden indirin. ",
     .ok = "Tamam"},
}};
// clang-format on

static_assert(inLanguageOrder(kRows));

}  // namespace

const BiosCheckFormText& biosCheckFormText(DialogLanguage language) { return rowFor(kRows, language); }

}  // namespace OvVBiosInstaller::text
