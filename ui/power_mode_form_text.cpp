#include "ui/dialog_text.h"

namespace OvVBiosInstaller::text {

namespace {

// clang-format off
constexpr std::array<PowerModeFormText, kDialogLanguageCount> kRows{{
    {.language = DialogLanguage::English,
     .message = "Warning\n\nThe AC adapter must be plugged in before upgrading VBIOS.\n[Retry] After AC adapter is plugged in.\n[Cancel] To cancel VBIOS upgrade process.",
     .retry = "Retry",
     .cancel = "Cancel"},
    {.language = DialogLanguage::SimplifiedChinese,
     .message = "警示\n\n升级 VBIOS 前，请务必先连接电源适配器。\n[重试] 已连接电源适配器。\n[取消] 取消 VBIOS 升级程序。",
     .retry = "重试",
     .cancel = "取消"},
    {.language = DialogLanguage::TraditionalChinese,
     .message = "警示\n\n升級 VBIOS 前，請務必先連接電源變壓器。\n[重試] 已連接電源變壓器。\n[取消] 取消 VBIOS 升級程式。",
     .retry = "重試",
     .cancel = "取消"},
    {.language = DialogLanguage::Czech,
     .message = "Varování\n\nPřed upgradováním systému VBIOS je nutno připojit síťový napájecí adaptér.\n[Zkusit znovu] Po připojení síťového napájecího adaptéru.\n[Zrušit] Slouží ke zrušení upgradu systému VBIOS.",
     .retry = "Zkusit znovu",
     .cancel = "Zrušit",
     .retryFontSizePt = 10.0f},
    {.language = DialogLanguage::German,
     .message = "Warnung\n\nDas Netzteil muss vor der Aktualisierung von VBIOS angeschlossen werden.\n[Erneut versuchen] Nachdem das Netzteil angeschlossen wurde.\n[Abbrechen] So brechen Sie den VBIOS-Aktualisierungsvorgang ab.",
     .retry = "Erneut versuchen",
     .cancel = "Abbrechen",
     .retryFontSizePt = 10.0f},
    {.language = DialogLanguage::Spanish,
     .message = "Advertencia\n\nEl adaptador de CA debe estar enchufado antes de actualizar el VBIOS.\n[Reintentar] Después de que el adaptador de CA esté enchufado.\n[Cancelar] Para cancelar el proceso de actualización del VBIOS.",
     .retry = "Reintentar",
     .cancel = "Cancelar"},
    {.language = DialogLanguage::Finnish,
     .message = "Varoitus\n\nVerkkolaite on liitettävä ennen VBIOSin päivittämistä.\n[Yritä uudelleen] Kun verkkolaite on liitetty.\n[Peruuta] Peruaksesi VBIOS-päivitysprosessin.",
     .retry = "Yritä uudelleen",
     .cancel = "Peruuta",
     .retryFontSizePt = 10.0f},
    {.language = DialogLanguage::French,
     .message = "Avertissement\n\nL'adaptateur secteur doit être branché avant de mettre à jour le VBIOS.\n[Réessayer] Après avoir branché l'adaptateur secteur.\n[Annuler] Pour annuler la mise à jour du VBIOS.",
     .retry = "Réessayer",
     .cancel = "Annuler"},
    {.language = DialogLanguage::Italian,
     .message = "Avvertenza\n\nL'adattatore CA deve essere collegato prima di aggiornare VBIOS.\n[Riprova] Dopo aver collegato l'adattatore CA.\n[Annulla] Per annullare il processo di aggiornamento VBIOS.",
     .retry = "Riprova",
     .cancel = "Annulla"},
    {.language = DialogLanguage::Japanese,
     .message = "警告\n\nVBIOS をアップグレードする前に、AC アダプターを接続する必要があります。\n[再試行] AC アダプターを接続後。\n[キャンセル] VBIOS のアップグレード処理を取り消します。",
     .retry = "再試行",
     .cancel = "キャンセル"},
    {.language = DialogLanguage::Korean,
     .message = "경고\n\nVBIOS를 업그레이드하기 전에 AC 어댑터에 연결해야 합니다.\n[다시 시도] AC 어댑터에 연결한 후 다시 시도합니다.\n[취소] VBIOS 업그레이드 프로세스를 취소합니다.",
     .retry = "다시 시도",
     .cancel = "취소"},
    {.language = DialogLanguage::Dutch,
     .message = "Waarschuwing\n\ne Wisselstroomadapter moet voordat u de upgrade VBIOS worden gestoken.\n[Opnieuw] Nadat de Wisselstroomadapter is aangesloten.\n[Annuleren] Om VBIOS upgrade proces te annuleren.",
     .retry = "Opnieuw",
     .cancel = "Annuleren"},
    {.language = DialogLanguage::Norwegian,
     .message = "Advarsel\n\nVekselstrømadapteren må være koblet til før du oppgraderer VBIOS.\n[Prøv igjen] Når vekselstrømadapteren er koblet til.\n[Avbryt] For å avbryte VBIOS-oppgraderingsprosessen.",
     .retry = "Prøv igjen",
     .cancel = "Avbryt"},
    {.language = DialogLanguage::Portuguese,
     .message = "Aviso\n\nO adaptador de corrente AC deve estar ligado antes de atualizar o VBIOS.\n[Tentar novamente] Depois de ligar o adaptador de corrente AC.\n[Cancelar] Para cancelar o processo de atualização do VBIOS.",
     .retry = "Tentar novamente",
     .cancel = "Cancelar",
     .retryFontSizePt = 10.0f},
    {.language = DialogLanguage::Russian,
     .message = "Внимание\n\nПеред обновлением VBIOS необходимо подключить блок питания.\n[Повторить] После подключения блока питания.\n[Отменить] Для отмены процесса обновления VBIOS.",
     .retry = "Повторить",
     .cancel = "Отменить"},
    {.language = DialogLanguage::Swedish,
     .message = "Varning\n\nVäxelströmsadaptern måste anslutas innan VBIOS uppgraderas.\n[Försök igen] När växelströmsadaptern har anslutits.\n[Avbryt] För att avbryta uppgraderingsprocessen av VBIOS.",
     .retry = "Försök igen",
     .cancel = "Avbryt"},
    {.language = DialogLanguage::Turkish,
     .message = "Uyarı\n\nVBIOS'u yükseltmeden önce AC adaptörünün takılması gereklidir.\n[Yeniden dene] AC adaptörü takıldıktan sonra.\n[İptal et] VBIOS yükseltme işlemini iptal etmek için.",
     .retry = "Yeniden dene",
     .cancel = "İptal et",
     .retryFontSizePt = 10.0f},
}};
// clang-format on

static_assert(inLanguageOrder(kRows));

}  // namespace

const PowerModeFormText& powerModeFormText(DialogLanguage language) { return rowFor(kRows, language); }

}  // namespace OvVBiosInstaller::text
