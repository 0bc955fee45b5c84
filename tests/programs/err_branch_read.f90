! ERR= on a conversion error in input, IOSTAT= positive (the item itself
! is undefined after the error, so it is not printed).
program err_branch_read
  implicit none
  integer :: k, ios
  character(len=5) :: bad = '12x45'
  k = -1
  read (bad, '(i5)', err=10) k
  write (*, '(a)') 'not reached'
10 write (*, '(a)') 'error branch'
  read (bad, '(i5)', iostat=ios) k
  write (*, '(l2)') ios > 0
end program err_branch_read
