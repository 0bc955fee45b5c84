! SIGN=, ROUND= and PAD= given as statement specifiers and on OPEN.
program specifier_modes
  implicit none
  integer :: k, ios
  open (52, file='m.txt', status='replace', sign='plus')
  write (52, '(i4, f7.2)') 5, 1.5
  write (52, '(i4, f7.2)', sign='suppress') 5, 1.5
  write (52, '(f7.1, f7.1)', round='up') 1.21, -1.29
  write (52, '(f7.1, f7.1)', round='down') 1.29, -1.21
  close (52)
  open (52, file='m.txt', status='old', pad='no')
  read (52, '(i20)', iostat=ios) k
  write (*, '(l2)') ios /= 0
  close (52)
end program specifier_modes
