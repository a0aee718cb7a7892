// Names for the vowels the program sings, as a person reads them ("ee", "aw"): each vowel of
// the vowel map (its first two formants, from the module) gets the name of the nearest vowel
// of spoken English. The reference formants are the averages of men's vowels measured by
// Peterson and Barney (1952), in Hz; nearness is measured on a logarithmic frequency scale,
// where equal ratios are equal steps, as the ear hears them.
const kSpokenVowels = [
  { name: 'ee', f1: 270, f2: 2290 }, // beet
  { name: 'ih', f1: 390, f2: 1990 }, // bit
  { name: 'eh', f1: 530, f2: 1840 }, // bet
  { name: 'a', f1: 660, f2: 1720 }, // bat
  { name: 'ah', f1: 730, f2: 1090 }, // father
  { name: 'aw', f1: 570, f2: 840 }, // bought
  { name: 'u', f1: 440, f2: 1020 }, // book
  { name: 'oo', f1: 300, f2: 870 }, // boot
  { name: 'uh', f1: 640, f2: 1190 }, // but
  { name: 'er', f1: 490, f2: 1350 }, // bird
];

// The name of the spoken vowel nearest to first and second formants f1, f2 (Hz).
export function vowelName(f1, f2) {
  let best = null;
  let bestDistance = Infinity;
  for (const vowel of kSpokenVowels) {
    const distance = Math.hypot(Math.log(f1 / vowel.f1), Math.log(f2 / vowel.f2));
    if (distance < bestDistance) {
      best = vowel;
      bestDistance = distance;
    }
  }
  return best.name;
}
